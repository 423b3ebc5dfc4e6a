#include "crypto/envelope_signing.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "base/clock.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "formats/json/canonical.hpp"
#include "formats/json/parse.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

const Uuid kId = *parse_uuid("67e55044-10b1-426f-9247-bb680e5fe0c8");

// What a receiver would check if it chose to: the signature over the rebuilt signing text.
bool signature_holds(const ZelkEnvelope& env) {
  auto key = verifying_key_from_aid(env.sender.agent_id);
  auto canonical = json::canonical_json(env.payload);
  if (!key || !canonical || !check_signature_text(env.signature)) return false;
  const std::string text = envelope_signing_text(
      env.message_id, env.timestamp, env.sender.agent_id.text(), lower_hex(sha256(*canonical)));
  return verify_digest_text(*key, sha256(text), env.signature).has_value();
}

json::Value parse(std::string_view text) {
  return *json::parse_value(text);
}

class EnvelopeSigning : public ::testing::Test {
 protected:
  SigningKey ed = SigningKey::ed25519_from_seed(test::hex32(test::kRfc8032Secret1));
  SigningKey p256 = std::move(*SigningKey::p256_from_scalar(test::hex32(test::kRfc6979Scalar)));
};

TEST_F(EnvelopeSigning, SignsTheDocumentedText) {
  const json::Value payload = parse(R"({"z":[1,"\u00e9"],"a":{"y":null,"b":true}})");
  auto env = sign_envelope(ed, MessageType::MutualCommit, payload, kId, 1700000000);
  ASSERT_TRUE(env.has_value());
  EXPECT_EQ(env->version, "zelk/0.2");
  EXPECT_EQ(env->message_type, MessageType::MutualCommit);
  EXPECT_EQ(env->sender.agent_id, ed.aid());
  EXPECT_EQ(env->payload, payload);  // held as given, not in canonical form
  EXPECT_FALSE(env->extensions.has_value());
  const std::string hash =
      lower_hex(sha256(std::string_view(R"({"a":{"b":true,"y":null},"z":[1,"é"]})")));
  const std::string text =
      "67e55044-10b1-426f-9247-bb680e5fe0c8|1700000000|" + ed.aid_text() + "|" + hash;
  EXPECT_EQ(env->signature, sign_digest_text(ed, sha256(text)));
  EXPECT_TRUE(signature_holds(*env));

  auto p = sign_envelope(p256, MessageType::MutualHello, payload, kId, -1);
  ASSERT_TRUE(p.has_value());
  EXPECT_TRUE(p->signature.starts_with("p256."));
  EXPECT_TRUE(signature_holds(*p));
}

TEST_F(EnvelopeSigning, MemberOrderDoesNotChangeTheSignature) {
  auto one = *sign_envelope(ed, MessageType::Tct, parse(R"({"a":1,"b":2})"), kId, 0);
  auto two = *sign_envelope(ed, MessageType::Tct, parse(R"({"b":2,"a":1})"), kId, 0);
  EXPECT_EQ(one.signature, two.signature);
  EXPECT_NE(encode_envelope(one), encode_envelope(two));
  EXPECT_NE(encode_envelope(two).find(R"("payload":{"b":2,"a":1})"), std::string::npos);
}

TEST_F(EnvelopeSigning, TamperingEachMember) {
  const ZelkEnvelope env =
      *sign_envelope(ed, MessageType::MutualHello, parse(R"({"nonce":"n"})"), kId, 1700000000);
  ASSERT_TRUE(signature_holds(env));
  const std::string text = encode_envelope(env);
  auto altered = [&](std::string_view from, std::string_view to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    auto read = decode_envelope(t);
    EXPECT_TRUE(read.has_value()) << t;
    return *read;
  };
  // Covered: identifier, time, sender and payload.
  EXPECT_FALSE(signature_holds(altered("67e55044", "77e55044")));
  EXPECT_FALSE(signature_holds(altered("1700000000", "1700000001")));
  EXPECT_FALSE(signature_holds(altered(ed.aid_text(), p256.aid_text())));
  EXPECT_FALSE(signature_holds(altered(R"("nonce":"n")", R"("nonce":"m")")));
  EXPECT_FALSE(signature_holds(altered(env.signature.substr(0, 4), "AAAA")));
  // Not covered: version, message type and extensions.
  EXPECT_TRUE(signature_holds(altered("zelk/0.2", "zelk/9")));
  EXPECT_TRUE(signature_holds(altered("mutual_hello", "error")));
  EXPECT_TRUE(signature_holds(altered(R"(,"signature")", R"(,"extensions":{"x":1},"signature")")));
}

TEST_F(EnvelopeSigning, RoundTripsThroughTheWireForm) {
  auto env = sign_envelope(p256, MessageType::PopChallenge, parse(R"([1,{"k":"v"}])"), kId, 42);
  ASSERT_TRUE(env.has_value());
  auto back = decode_envelope(encode_envelope(*env));
  ASSERT_TRUE(back.has_value()) << back.error().full();
  EXPECT_EQ(*back, *env);
}

TEST_F(EnvelopeSigning, CanonicalFailure) {
  json::Object payload;
  payload.insert_or_assign("x", json::Value(std::nan("")));
  auto env = sign_envelope(ed, MessageType::Tct, json::Value(payload), kId, 0);
  ASSERT_FALSE(env.has_value());
  EXPECT_EQ(env.error().message(), "serialization failed: invalid float value");
  auto fresh = new_signed_envelope(ed, MessageType::Tct, json::Value(payload));
  ASSERT_FALSE(fresh.has_value());
  EXPECT_EQ(fresh.error().kind, EnvelopeSignError::Kind::Canonical);
  EXPECT_EQ(fresh.error().message(), "serialization failed: invalid float value");
}

TEST_F(EnvelopeSigning, FreshEnvelopesHaveNewIdentifiersAndTheTime) {
  const std::int64_t before = *unix_now_secs();
  auto a = new_signed_envelope(ed, MessageType::MutualCommitAck, parse("{}"));
  auto b = new_signed_envelope(ed, MessageType::MutualCommitAck, parse("{}"));
  const std::int64_t after = *unix_now_secs();
  ASSERT_TRUE(a.has_value() && b.has_value());
  EXPECT_NE(a->message_id, b->message_id);
  EXPECT_EQ(a->message_id.to_string()[14], '4');
  EXPECT_GE(a->timestamp, before);
  EXPECT_LE(a->timestamp, after);
  EXPECT_TRUE(signature_holds(*a));
}

}  // namespace
}  // namespace zelk
