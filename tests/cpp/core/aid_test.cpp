#include "core/aid.hpp"

#include <gtest/gtest.h>

#include "base/invariant.hpp"
#include "formats/base64url.hpp"

namespace zelk {
namespace {

const std::string kKey43 = "11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo";  // RFC 8032 test 1
const std::string kP256Id = "A" + std::string(43, 'A');                    // 0x00 first byte
std::string p256_id(std::uint8_t tag) {
  Bytes b(33, 0x11);
  b[0] = tag;
  return b64url_encode(b);
}

TEST(Aid, AcceptedFormsKeepTheirText) {
  const std::string forms[] = {"aid:pubkey:" + kKey43, "aid:pubkey:ed25519:" + kKey43,
                               "aid:pubkey:p256:" + p256_id(2), "aid:pubkey:p256:" + p256_id(3)};
  for (const auto& f : forms) {
    auto aid = parse_aid(f);
    ASSERT_TRUE(aid.has_value()) << f << ": " << aid.error().message();
    EXPECT_EQ(aid->text(), f);
  }
  // The two Ed25519 forms of one key are different AIDs with the same key bytes.
  auto short_form = *parse_aid("aid:pubkey:" + kKey43);
  auto long_form = *parse_aid("aid:pubkey:ed25519:" + kKey43);
  EXPECT_NE(short_form, long_form);
  EXPECT_EQ(aid_public_key_bytes(short_form), aid_public_key_bytes(long_form));
  EXPECT_EQ(aid_public_key_bytes(short_form).size(), 32u);
  EXPECT_EQ(short_form.key_kind(), AidKeyKind::Ed25519);
  EXPECT_EQ(aid_p256_key_bytes(short_form), std::nullopt);

  auto p = *parse_aid("aid:pubkey:p256:" + p256_id(3));
  EXPECT_EQ(p.key_kind(), AidKeyKind::P256);
  EXPECT_EQ(aid_public_key_bytes(p).size(), 33u);
  EXPECT_EQ(aid_public_key_bytes(p)[0], 3);
  EXPECT_EQ(aid_ed25519_key_bytes(p), std::nullopt);
}

TEST(Aid, RefusalTable) {
  const std::string non_b64 = "AID identifier contains non-base64url characters";
  std::string bits = kKey43;
  bits.back() = 'p';  // 'o' is canonical; 'p' sets a trailing bit
  const std::pair<std::string, std::string> cases[] = {
      {"", "AID does not start with 'aid:'"},
      {"aid", "AID does not start with 'aid:'"},
      {"AID:pubkey:" + kKey43, "AID does not start with 'aid:'"},
      {"xaid:pubkey:", "AID does not start with 'aid:'"},
      {"aid:", "AID method '' is not supported in v0.1; expected 'pubkey'"},
      {"aid:web:example", "AID method 'web' is not supported in v0.1; expected 'pubkey'"},
      {"aid:pubkey", "AID method 'pubkey' is not supported in v0.1; expected 'pubkey'"},
      {"aid:pubkey:rsa:AAAA",
       "AID method 'pubkey:rsa' is not supported in v0.1; expected 'pubkey'"},
      {"aid:pubkey::", "AID method 'pubkey:' is not supported in v0.1; expected 'pubkey'"},
      {"aid:pubkey:", "AID identifier must be exactly 43 characters; got 0"},
      {"aid:pubkey:ed25519:", "AID identifier must be exactly 43 characters; got 0"},
      {"aid:pubkey:p256:", "AID identifier must be exactly 44 characters; got 0"},
      {"aid:pubkey:" + kKey43 + "A", "AID identifier must be exactly 43 characters; got 44"},
      {"aid:pubkey:p256:" + std::string(43, 'A'),
       "AID identifier must be exactly 44 characters; got 43"},
      // Wrong length is reported before bad characters.
      {"aid:pubkey:ed25519:" + std::string(10, '='),
       "AID identifier must be exactly 43 characters; got 10"},
      {"aid:pubkey:" + bits, non_b64},
      {"aid:pubkey:ed25519:" + bits, non_b64},
      {"aid:pubkey:" + kKey43.substr(0, 42) + "=", non_b64},
      {"aid:pubkey:" + kKey43.substr(0, 41) + "\xc3\xa9", non_b64},
      // A colon inside the long or P-256 identifier is only a bad character.
      {"aid:pubkey:ed25519:" + kKey43.substr(0, 42) + ":", non_b64},
      {"aid:pubkey:p256:" + p256_id(4), non_b64},
      {"aid:pubkey:p256:" + p256_id(0), non_b64},
  };
  for (const auto& [text, msg] : cases) {
    auto aid = parse_aid(text);
    ASSERT_FALSE(aid.has_value()) << text;
    EXPECT_EQ(aid.error().message(), msg) << text;
  }
}

TEST(Aid, PlaceholderKeyBytesAreAnInvariantFailure) {
  // A default Aid only stands in for a record field about to be read; asking it for key bytes is
  // a broken invariant, reported as such rather than as an out-of-range access.
  EXPECT_THROW(aid_public_key_bytes(Aid()), InvariantFailure);
  EXPECT_THROW(aid_ed25519_key_bytes(Aid()), InvariantFailure);
}

TEST(Aid, WritingForms) {
  const Bytes zeros(32, 0);
  const std::string text = aid_from_ed25519_key(zeros);
  EXPECT_EQ(text, "aid:pubkey:" + std::string(43, 'A'));
  EXPECT_TRUE(parse_aid(text).has_value());  // form is right even if the key is unusable

  Bytes p(33, 0xAB);
  p[0] = 2;
  const std::string ptext = aid_from_p256_key(p);
  EXPECT_TRUE(ptext.starts_with("aid:pubkey:p256:"));
  EXPECT_EQ(ptext.size(), 16u + 44u);
  EXPECT_EQ(aid_public_key_bytes(*parse_aid(ptext)), p);
}

}  // namespace
}  // namespace zelk
