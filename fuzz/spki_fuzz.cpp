// The SPKI hash of an X.509 certificate: bytes after the certificate do not change it, and for a
// certificate in DER it is the SHA-256 of the SubjectPublicKeyInfo bytes found in the input by a
// walk over the outer DER structure.
#include <openssl/x509.h>

#include <algorithm>
#include <optional>

#include "crypto/openssl_ptr.hpp"
#include "crypto/sha256.hpp"
#include "crypto/spki.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace zelk;

// One DER element (tag, definite length, contents) at the front of `in`: its whole bytes, and
// `in` moved past it. Only single-byte tags, as a certificate's outer structure uses.
std::optional<ByteView> next_element(ByteView& in) {
  if (in.size() < 2 || (in[0] & 0x1f) == 0x1f) return std::nullopt;
  std::size_t header = 2, length = in[1];
  if (length & 0x80) {
    const std::size_t count = length & 0x7f;
    if (count == 0 || count > 4 || in.size() < 2 + count) return std::nullopt;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | in[2 + i];
    header += count;
  }
  if (in.size() - header < length) return std::nullopt;
  const ByteView element = in.first(header + length);
  in = in.subspan(header + length);
  return element;
}

ByteView contents(ByteView element) {
  const std::size_t header = element[1] & 0x80 ? 2 + (element[1] & 0x7f) : 2;
  return element.subspan(header);
}

// The SubjectPublicKeyInfo element of a certificate as the bytes hold it: the seventh element of
// the TBSCertificate, counting the optional [0] version.
std::optional<ByteView> spki_element(ByteView der) {
  auto certificate = next_element(der);
  if (!certificate) return std::nullopt;
  ByteView body = contents(*certificate);
  auto tbs = next_element(body);
  if (!tbs) return std::nullopt;
  ByteView fields = contents(*tbs);
  if (!fields.empty() && fields[0] == 0xa0 && !next_element(fields)) return std::nullopt;
  for (int i = 0; i < 5; ++i)
    if (!next_element(fields)) return std::nullopt;
  return next_element(fields);
}

// True when the certificate at the front of `der` is in DER as OpenSSL writes it again.
bool is_canonical_der(ByteView der) {
  const unsigned char* p = der.data();
  ossl::UniquePtr<X509> cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!cert) return false;
  const std::size_t used = static_cast<std::size_t>(p - der.data());
  unsigned char* encoded = nullptr;
  const int length = i2d_X509(cert.get(), &encoded);
  const bool same = length > 0 && static_cast<std::size_t>(length) == used &&
                    std::equal(encoded, encoded + length, der.data());
  OPENSSL_free(encoded);
  return same;
}

// True when the key structure reads and is written again as the same bytes.
bool is_canonical_spki(ByteView element) {
  const unsigned char* p = element.data();
  X509_PUBKEY* key = d2i_X509_PUBKEY(nullptr, &p, static_cast<long>(element.size()));
  if (key == nullptr) return false;
  unsigned char* encoded = nullptr;
  const int length = i2d_X509_PUBKEY(key, &encoded);
  X509_PUBKEY_free(key);
  const bool same = length > 0 && static_cast<std::size_t>(length) == element.size() &&
                    std::equal(encoded, encoded + length, element.data());
  OPENSSL_free(encoded);
  return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView der(data, size);
  auto hash = spki_sha256(der);
  if (!hash) {
    ZELK_FUZZ_CHECK(!hash.error().text.empty(), "a refusal without a reason");
    return 0;
  }
  // For a certificate in DER the hash covers the bytes of its own key structure. (A key bit
  // string with non-zero padding bits is not DER; the parser clears them, and the hash is that of
  // the key structure as DER would have it.)
  if (is_canonical_der(der)) {
    const auto spki = spki_element(der);
    ZELK_FUZZ_CHECK(spki.has_value(), "no SubjectPublicKeyInfo found in a DER certificate");
    if (is_canonical_spki(*spki)) {
      ZELK_FUZZ_CHECK(sha256(*spki) == *hash, "SPKI hash is not over the certificate's own bytes");
    }
  }
  Bytes longer(der.begin(), der.end());
  longer.push_back(0x30);
  longer.push_back(0x00);
  auto again = spki_sha256(longer);
  ZELK_FUZZ_CHECK(again && *again == *hash, "trailing bytes changed the hash");
  return 0;
}
