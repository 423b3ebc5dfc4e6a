#include "handshake/payloads.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/envelope.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/writer.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

json::Value parse(std::string_view text) {
  auto v = json::parse_value(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v ? std::move(*v) : json::Value();
}

std::string compact(const json::Value& v) {
  std::string out;
  json::write_compact(v, out);
  return out;
}

template <typename F>
std::string error_of(F read, std::string_view text) {
  auto r = read(parse(text));
  return r ? "(read)" : r.error().full();
}

std::string descriptor_error(std::string_view text) {
  return error_of(identity_descriptor_from_value, text);
}

TEST(IdentityDescriptorRead, NullOptionalsAreAbsentAndLeftOutWhenWritten) {
  auto d = identity_descriptor_from_value(
      parse(R"({"proof":"p","issuer":null,"subject":"s","type":"pinned_key"})"));
  ASSERT_TRUE(d.has_value()) << d.error().full();
  EXPECT_EQ(d->type, IdentityType::PinnedKey);
  EXPECT_FALSE(d->issuer);
  EXPECT_FALSE(d->public_key);
  EXPECT_FALSE(d->extensions);
  json::Object payload;
  identity_descriptor_to_value(payload, *d);
  EXPECT_EQ(compact(json::Value(payload)),
            R"({"identity":{"type":"pinned_key","subject":"s","proof":"p"}})");
}

TEST(IdentityDescriptorRead, WriterOrderAndSortedExtensions) {
  auto d = identity_descriptor_from_value(
      parse(R"({"extensions":{"b":1,"a":[true]},"public_key":"k","proof":"p","subject":"s",)"
            R"("issuer":"https://i/","type":{"oidc":null}})"));
  ASSERT_TRUE(d.has_value()) << d.error().full();
  EXPECT_EQ(d->type, IdentityType::Oidc);
  json::Object payload;
  payload.insert_or_assign("before", json::Value(1));
  identity_descriptor_to_value(payload, *d);
  EXPECT_EQ(compact(json::Value(payload)),
            R"({"before":1,"identity":{"type":"oidc","issuer":"https://i/","subject":"s",)"
            R"("proof":"p","public_key":"k","extensions":{"a":[true],"b":1}}})");
}

TEST(IdentityDescriptorRead, Refusals) {
  const std::string arity = ", expected struct IdentityDescriptor with 6 elements";
  const struct {
    std::string_view text;
    std::string error;
  } cases[] = {
      {R"(["pinned_key",null,"s","p"])", "(read)"},
      {R"(["oidc","https://i/","s","p",null,{}])", "(read)"},
      {R"(["pinned_key"])", "invalid length 2" + arity},
      {R"(["pinned_key","https://i/"])", "invalid length 2" + arity},
      {R"(["pinned_key",null,"s"])", "invalid length 3" + arity},
      {R"([])", "invalid length 0" + arity},
      {R"(["oidc",null,"s","p",null,null,null])",
       "invalid length 7, expected fewer elements in array"},
      {R"({"type":"Pinned_Key","subject":"s","proof":"p"})",
       "unknown variant `Pinned_Key`, expected `oidc` or `pinned_key`"},
      {R"({"type":"OIDC","subject":"s","proof":"p"})",
       "unknown variant `OIDC`, expected `oidc` or `pinned_key`"},
      {R"({"type":"oidc","subject":"s"})", "missing field `proof`"},
      {R"({"type":"oidc","subject":"s","proof":"p","pubkey":"k"})",
       "unknown field `pubkey`, expected one of `type`, `issuer`, `subject`, `proof`, "
       "`public_key`, `extensions`"},
      {R"({"type":"oidc","subject":"s","proof":7})",
       "invalid type: integer `7`, expected a string"},
      {R"("pinned_key")",
       "invalid type: string \"pinned_key\", expected struct IdentityDescriptor"},
  };
  for (const auto& c : cases) EXPECT_EQ(descriptor_error(c.text), c.error) << c.text;
}

TEST(CommitPayloadRead, VoucherAbsentOrNullAndTheCommitResult) {
  for (std::string_view text :
       {R"({"tct":"t","pop_signature":"s","pop_nonce_echo":"n"})",
        R"({"tct":"t","grant_voucher":null,"pop_signature":"s","pop_nonce_echo":"n"})",
        R"(["t",null,"s","n"])"}) {
    auto c = mutual_commit_from_value(parse(text));
    ASSERT_TRUE(c.has_value()) << c.error().full();
    EXPECT_FALSE(c->grant_voucher);
    EXPECT_EQ(commit_result_json(c->tct, c->grant_voucher), R"({"tct":"t","grant_voucher":null})");
    EXPECT_EQ(compact(mutual_commit_to_value(*c)),
              R"({"tct":"t","grant_voucher":null,"pop_signature":"s","pop_nonce_echo":"n"})");
  }
  EXPECT_EQ(commit_result_json("a\"b", std::string("v")), R"({"tct":"a\"b","grant_voucher":"v"})");
}

TEST(CommitPayloadRead, Refusals) {
  const std::string all_present = R"("tct":"t","grant_voucher":"v","pop_signature":"s")";
  EXPECT_EQ(error_of(mutual_commit_from_value, "{" + all_present + "}"),
            "missing field `pop_nonce_echo`");
  EXPECT_EQ(error_of(mutual_commit_ack_from_value, "{" + all_present + "}"),
            "missing field `pop_nonce_echo`");
  EXPECT_EQ(error_of(mutual_commit_from_value, R"(["t"])"),
            "invalid length 2, expected struct MutualCommitPayload with 5 elements");
  EXPECT_EQ(error_of(mutual_commit_ack_from_value, R"(["t","v","s"])"),
            "invalid length 3, expected struct MutualCommitAckPayload with 5 elements");
  EXPECT_EQ(error_of(mutual_commit_ack_from_value, "{" + all_present + R"(,"pop_nonce":"n"})"),
            "unknown field `pop_nonce`, expected one of `tct`, `grant_voucher`, `pop_signature`, "
            "`pop_nonce_echo`, `extensions`");
  EXPECT_EQ(error_of(mutual_commit_from_value, "null"),
            "invalid type: null, expected struct MutualCommitPayload");
}

class HelloPayload : public ::testing::Test {
 protected:
  SigningKey key = test::ed_key(7);
  Manifest manifest = test::manifest_for(key, "agent-7");

  MutualHelloAckPayload ack() const {
    MutualHelloAckPayload p;
    p.identity = {IdentityType::PinnedKey, std::nullopt, "agent-7", "proof", "pk", std::nullopt};
    p.manifest = manifest;
    p.requested_grants = {"files:read", "chat"};
    p.pop_nonce = "AAAAAAAAAAAAAAAAAAAAAA";
    p.pop_nonce_echo = "BBBBBBBBBBBBBBBBBBBBBB";
    return p;
  }
};

TEST_F(HelloPayload, WrittenInDeclaredOrderAndReadBack) {
  const MutualHelloAckPayload p = ack();
  const json::Value v = mutual_hello_ack_to_value(p);
  std::string names;
  for (const auto& m : v.as_object()) names += m.name + " ";
  EXPECT_EQ(names, "identity manifest requested_grants pop_nonce pop_nonce_echo ");
  auto back = mutual_hello_ack_from_value(v);
  ASSERT_TRUE(back.has_value()) << back.error().full();
  EXPECT_EQ(*back, p);

  MutualHelloPayload hello{p.identity, p.manifest, p.requested_grants, p.pop_nonce, json::Object()};
  auto hello_back = mutual_hello_from_value(mutual_hello_to_value(hello));
  ASSERT_TRUE(hello_back.has_value()) << hello_back.error().full();
  EXPECT_EQ(*hello_back, hello);
  EXPECT_TRUE(hello_back->extensions);
}

TEST_F(HelloPayload, Refusals) {
  json::Value v = mutual_hello_ack_to_value(ack());
  json::Object& o = v.as_object();
  o.insert_or_assign("nonce", json::Value("x"));
  EXPECT_EQ(mutual_hello_ack_from_value(v).error().full(),
            "unknown field `nonce`, expected one of `identity`, `manifest`, `requested_grants`, "
            "`pop_nonce`, `pop_nonce_echo`, `extensions`");
  EXPECT_EQ(mutual_hello_from_value(mutual_hello_ack_to_value(ack())).error().full(),
            "unknown field `pop_nonce_echo`, expected one of `identity`, `manifest`, "
            "`requested_grants`, `pop_nonce`, `extensions`");
  EXPECT_EQ(error_of(mutual_hello_from_value, R"([{"type":"oidc","subject":"s","proof":"p"}])"),
            "invalid length 1, expected struct MutualHelloPayload with 5 elements");
  EXPECT_EQ(error_of(mutual_hello_ack_from_value, "[]"),
            "invalid length 0, expected struct MutualHelloAckPayload with 6 elements");
}

TEST_F(HelloPayload, RepeatedMemberInTheEnvelopeTextKeepsTheLastValue) {
  json::Value payload = mutual_hello_ack_to_value(ack());
  std::string text = R"({"version":"zelk/0.2","message_type":"mutual_hello_ack",)"
                     R"("message_id":"0f8fad5b-d9cb-469f-a165-70867728950e","timestamp":1,)"
                     R"("sender":{"agent_id":")" +
                     key.aid_text() + R"("},"payload":)";
  std::string body = compact(payload);
  body.insert(1, R"("pop_nonce":"first",)");
  text += body + R"(,"signature":"x"})";
  auto envelope = decode_envelope(text);
  ASSERT_TRUE(envelope.has_value()) << envelope.error().full();
  auto read = mutual_hello_ack_from_value(envelope->payload);
  ASSERT_TRUE(read.has_value()) << read.error().full();
  EXPECT_EQ(read->pop_nonce, "AAAAAAAAAAAAAAAAAAAAAA");
}

}  // namespace
}  // namespace zelk
