// Every Wycheproof vector for the two agent key suites, through the public key API, and the RSA
// PKCS#1 v1.5 SHA-256 vectors through the identity provider key check (RS256): "valid" signatures
// are accepted and "invalid" ones refused. The only "acceptable" RSA cases (a DigestInfo without
// its NULL parameter) are refused: RS256 takes the one standard encoding.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/json/parse.hpp"
#include "rsa_test_util.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

json::Value load(const std::string& name) {
  std::ifstream in(std::string(ZELK_TEST_DATA_DIR) + "/wycheproof/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  auto value = json::parse_value(text.str());
  if (!value) ADD_FAILURE() << name << ": " << value.error().full();
  return value ? std::move(*value) : json::Value();
}

const std::string& text_member(const json::Value& object, std::string_view name) {
  static const std::string missing;
  const json::Value* member = object.as_object().find(name);
  return member != nullptr && member->is_string() ? member->as_string() : missing;
}

struct Tally {
  std::size_t agreed = 0;
  std::size_t total = 0;
};

// Runs every test of every group; `key_of` reads a group's public key (nullopt: refused).
template <typename KeyOf>
Tally run_vectors(const std::string& file, KeyOf key_of) {
  const json::Value doc = load(file);
  Tally tally;
  if (!doc.is_object()) return tally;
  for (const json::Value& group : doc.as_object().find("testGroups")->as_array()) {
    auto key = key_of(*group.as_object().find("publicKey"));
    for (const json::Value& test : group.as_object().find("tests")->as_array()) {
      const std::string& result = text_member(test, "result");
      const Bytes msg = test::hex(text_member(test, "msg"));
      const Bytes sig = test::hex(text_member(test, "sig"));
      const bool accepted = key.has_value() && verify_signature_bytes(*key, msg, sig).has_value();
      const bool expected = result == "valid";
      EXPECT_TRUE(result == "valid" || result == "invalid") << result;
      ++tally.total;
      if (accepted == expected)
        ++tally.agreed;
      else
        ADD_FAILURE() << file << " tcId " << test.as_object().find("tcId")->as_pos_int() << " ("
                      << text_member(test, "comment") << "): expected " << result;
    }
  }
  return tally;
}

TEST(Wycheproof, Ed25519) {
  const Tally tally = run_vectors("ed25519_test.json", [](const json::Value& key) {
    auto parsed = ed25519_key_from_bytes(test::hex(text_member(key, "pk")));
    return parsed ? std::optional(*parsed) : std::nullopt;
  });
  EXPECT_EQ(tally.total, 151u);
  EXPECT_EQ(tally.agreed, tally.total);
}

TEST(Wycheproof, EcdsaP256P1363) {
  const Tally tally =
      run_vectors("ecdsa_secp256r1_sha256_p1363_test.json", [](const json::Value& key) {
        auto parsed = p256_key_from_sec1(test::hex(text_member(key, "uncompressed")));
        return parsed ? std::optional(*parsed) : std::nullopt;
      });
  EXPECT_EQ(tally.total, 262u);
  EXPECT_EQ(tally.agreed, tally.total);
}

// The RSA files: each group's key from its JWK members, every signature over its message as the
// RS256 signing input.
Tally run_rsa_vectors(const std::string& file, std::size_t& acceptable) {
  const json::Value doc = load(file);
  Tally tally;
  if (!doc.is_object()) return tally;
  for (const json::Value& group : doc.as_object().find("testGroups")->as_array()) {
    const json::Value& jwk = *group.as_object().find("keyJwk");
    auto n = b64url_decode(text_member(jwk, "n"));
    auto e = b64url_decode(text_member(jwk, "e"));
    EXPECT_TRUE(n && e) << file;
    if (!n || !e) continue;
    const Jwk key = Jwk::rsa(text_member(jwk, "kid"), *n, *e);
    for (const json::Value& test : group.as_object().find("tests")->as_array()) {
      const std::string& result = text_member(test, "result");
      const Bytes msg = test::hex(text_member(test, "msg"));
      const Bytes sig = test::hex(text_member(test, "sig"));
      auto checked = verify_jws_with_jwk(key, "RS256", msg, sig);
      if (!checked) {
        EXPECT_EQ(checked.error().kind, JwkVerifyError::Kind::SignatureInvalid);
      }
      ++tally.total;
      if (result == "acceptable") ++acceptable;
      if (checked.has_value() == (result == "valid"))
        ++tally.agreed;
      else
        ADD_FAILURE() << file << " tcId " << test.as_object().find("tcId")->as_pos_int() << " ("
                      << text_member(test, "comment") << "): expected " << result;
    }
  }
  return tally;
}

TEST(Wycheproof, RsaPkcs1Sha256) {
  const struct {
    const char* file;
    std::size_t total;
  } files[] = {{"rsa_signature_2048_sha256_test.json", 259},
               {"rsa_signature_3072_sha256_test.json", 259},
               {"rsa_signature_4096_sha256_test.json", 258}};
  for (const auto& f : files) {
    std::size_t acceptable = 0;
    const Tally tally = run_rsa_vectors(f.file, acceptable);
    EXPECT_EQ(tally.total, f.total) << f.file;
    EXPECT_EQ(tally.agreed, tally.total) << f.file;
    EXPECT_EQ(acceptable, 1u) << f.file;
  }
}

// Keys under 2048 bits are refused even for a genuine signature, one bit short included.
TEST(Wycheproof, RsaUnder2048BitsRefused) {
  for (unsigned bits : {1024u, 2047u}) {
    const test::RsaTestKey key = bits == 1024 ? test::rsa_key_1024() : test::generate_rsa(bits);
    const Bytes sig = test::rsa_sign(key, "header.payload");
    auto checked = verify_jws_with_jwk(Jwk::rsa(std::nullopt, key.n, key.e), "RS256",
                                       as_bytes(std::string_view("header.payload")), sig);
    ASSERT_FALSE(checked.has_value()) << bits;
    EXPECT_EQ(checked.error().kind, JwkVerifyError::Kind::SignatureInvalid) << bits;
  }
}

}  // namespace
}  // namespace zelk
