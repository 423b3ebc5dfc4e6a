#include "crypto/spki.hpp"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <string>

#include "test_util.hpp"

namespace zelk {
namespace {

// A self-signed Ed25519 certificate and the SHA-256 of its SubjectPublicKeyInfo DER
// (302a300506032b6570032100 followed by the key), both made with another X.509 toolkit.
constexpr std::string_view kCertHex =
    "3081c7307ba003020102020101300506032b6570300e310c300a06035504030c0370696e301e170d32363031"
    "30313030303030305a170d3236303130323030303030305a300e310c300a06035504030c0370696e302a3005"
    "06032b657003210003a107bff3ce10be1d70dd18e74bc09967e4d6309ba50d5f1ddc8664125531b830050603"
    "2b657003410055e0857c3083903960752d6e31efb3b44b157f8de8a2ccc6048760676994cb6b94b300053cc9"
    "fcdbb37a52e50839601698cef5406ca1033c92b7b271a826c20d";
constexpr std::string_view kSpkiSha256 =
    "a050837d85070582ccf7394b0988847cc312cb88259b894899f6f239cf1791a5";

TEST(Spki, HashesTheWholeSubjectPublicKeyInfo) {
  Bytes cert = test::hex(kCertHex);
  auto digest = spki_sha256(cert);
  ASSERT_TRUE(digest.has_value()) << digest.error().message();
  EXPECT_EQ(lower_hex(*digest), kSpkiSha256);
  // Bytes after the certificate are ignored.
  cert.insert(cert.end(), {0x00, 0x30, 0x03, 0xff});
  EXPECT_EQ(lower_hex(*spki_sha256(cert)), kSpkiSha256);
}

TEST(Spki, KeyOfAnUnknownOrInvalidKindIsHashedAsItStands) {
  // The key's algorithm is replaced by X448 (whose keys are 56 bytes, so this one is invalid)
  // and by an identifier no toolkit knows; the key itself is never looked at.
  for (std::string_view oid : {"2b6571", "2b6579"}) {
    std::string hex(kCertHex);
    const std::size_t at = hex.find("302a300506032b6570032100");
    ASSERT_NE(at, std::string::npos);
    hex.replace(at + 12, 6, oid);
    auto digest = spki_sha256(test::hex(hex));
    ASSERT_TRUE(digest.has_value()) << oid << ": " << digest.error().message();
    const std::string spki = hex.substr(at, 2 * 44);
    EXPECT_EQ(*digest, sha256(test::hex(spki))) << oid;
    EXPECT_EQ(ERR_peek_error(), 0u) << oid;
  }
}

TEST(Spki, RefusalsLeaveNoErrorQueued) {
  const Bytes cert = test::hex(kCertHex);
  const std::string pem = "-----BEGIN CERTIFICATE-----\nMIHHMHugAwIBAgIBATAFBgMrZXA=\n";
  const Bytes inputs[] = {
      {},
      Bytes(pem.begin(), pem.end()),
      Bytes(cert.begin(), cert.begin() + 100),  // cut short
      {0x30, 0x84, 0xff, 0xff, 0xff, 0xff},     // a length far beyond the input
  };
  for (const Bytes& input : inputs) {
    auto digest = spki_sha256(input);
    ASSERT_FALSE(digest.has_value());
    EXPECT_FALSE(digest.error().message().empty());
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
  // An error left queued by someone else is neither reported nor kept.
  ERR_put_error(ERR_LIB_X509, 0, 1, __FILE__, __LINE__);
  EXPECT_TRUE(spki_sha256(cert).has_value());
  ERR_clear_error();
}

}  // namespace
}  // namespace zelk
