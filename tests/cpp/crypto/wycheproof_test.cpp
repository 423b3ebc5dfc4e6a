// Every Wycheproof vector for the two agent key suites, through the public key API: "valid"
// signatures are accepted and "invalid" ones refused (the files have no "acceptable" cases).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "crypto/keys.hpp"
#include "formats/json/parse.hpp"
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

}  // namespace
}  // namespace zelk
