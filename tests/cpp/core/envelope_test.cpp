#include "core/envelope.hpp"

#include <gtest/gtest.h>

namespace zelk {
namespace {

const std::string kAid = "aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo";
const std::string kId = "67e55044-10b1-426f-9247-bb680e5fe0c8";

// A compact envelope in declared order; `extra` is spliced in before the signature.
std::string envelope_text(const std::string& type = R"("mutual_hello")",
                          const std::string& extra = "") {
  return R"({"version":"zelk/0.2","message_type":)" + type + R"(,"message_id":")" + kId +
         R"(","timestamp":1700000000,"sender":{"agent_id":")" + kAid +
         R"("},"payload":{"b":1,"a":[true,null]},)" + extra + R"("signature":"not checked"})";
}

std::string decode_error(const std::string& text) {
  auto e = decode_envelope(text);
  if (e) return "(read)";
  return e.error().full();
}

TEST(Envelope, MapFormRoundTrips) {
  const std::string text = envelope_text();
  auto env = decode_envelope(text);
  ASSERT_TRUE(env.has_value()) << env.error().full();
  EXPECT_EQ(env->version, "zelk/0.2");
  EXPECT_EQ(env->message_type, MessageType::MutualHello);
  EXPECT_EQ(env->message_id.to_string(), kId);
  EXPECT_EQ(env->timestamp, 1700000000);
  EXPECT_EQ(env->sender.agent_id.text(), kAid);
  EXPECT_FALSE(env->extensions.has_value());
  EXPECT_EQ(env->signature, "not checked");
  // The payload keeps its own member order.
  EXPECT_EQ(encode_envelope(*env), text);
  EXPECT_EQ(decode_envelope(encode_envelope(*env)), env);
}

TEST(Envelope, WireFormEscapesStringsAndSortsExtensions) {
  auto env = decode_envelope(envelope_text());
  ASSERT_TRUE(env.has_value());
  env->version = "q\"b\\c\x01\x1f\b\f\n\r\t/\u00e9";
  json::Object ext;  // built out of order, as a caller might
  ext.insert_or_assign("z", json::Value(1));
  ext.insert_or_assign("a", json::Value("\x7f"));
  env->extensions = ext;
  const std::string text = encode_envelope(*env);
  // Only quotation mark, backslash and characters below 0x20 are escaped; DEL, "/" and
  // non-ASCII characters stand as themselves.
  EXPECT_TRUE(text.starts_with(R"({"version":"q\"b\\c\u0001\u001f\b\f\n\r\t/)"
                               "\u00e9\",\"message_type\":"))
      << text;
  EXPECT_NE(text.find(",\"extensions\":{\"a\":\"\x7f\",\"z\":1},\"signature\""), std::string::npos)
      << text;
  auto back = decode_envelope(text);
  ASSERT_TRUE(back.has_value()) << back.error().full();
  EXPECT_EQ(back->version, env->version);
}

TEST(Envelope, ArrayFormAndItsLengths) {
  const std::string head = R"(["v","tct",")" + kId + R"(",-5,[")" + kAid + R"("],null)";
  auto eight = decode_envelope(head + R"(,{"z":1,"a":2},"sig"])");
  ASSERT_TRUE(eight.has_value()) << eight.error().full();
  EXPECT_EQ(eight->message_type, MessageType::Tct);
  EXPECT_EQ(eight->timestamp, -5);
  EXPECT_TRUE(eight->payload.is_null());
  // Extensions are held and written sorted by name.
  EXPECT_EQ(encode_envelope(*eight),
            R"({"version":"v","message_type":"tct","message_id":")" + kId +
                R"(","timestamp":-5,"sender":{"agent_id":")" + kAid +
                R"("},"payload":null,"extensions":{"a":2,"z":1},"signature":"sig"})");
  EXPECT_EQ(decode_error(head + "]"),
            "invalid length 7, expected struct ZelkEnvelope with 8 elements at line 1 column " +
                std::to_string(head.size() + 1));
  EXPECT_EQ(decode_error(head + ",{}]"),
            "invalid length 7, expected struct ZelkEnvelope with 8 elements at line 1 column " +
                std::to_string(head.size() + 4));
  EXPECT_EQ(decode_error(head + R"(,null,"s",1])"),
            "trailing characters at line 1 column " + std::to_string(head.size() + 11));
}

TEST(Envelope, MemberForms) {
  // Upper case and simple UUID forms are written back lower-case hyphenated.
  for (const std::string id :
       {"67E55044-10B1-426F-9247-BB680E5FE0C8", "67e5504410b1426f9247bb680e5fe0c8",
        "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
        "{67e55044-10b1-426f-9247-bb680e5fe0c8}"}) {
    std::string text = envelope_text();
    text.replace(text.find(kId), kId.size(), id);
    auto env = decode_envelope(text);
    ASSERT_TRUE(env.has_value()) << id;
    EXPECT_EQ(encode_envelope(*env), envelope_text()) << id;
  }
  // The long Ed25519 form is kept as given.
  const std::string long_aid = "aid:pubkey:ed25519:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo";
  std::string text = envelope_text();
  text.replace(text.find(kAid), kAid.size(), long_aid);
  auto env = decode_envelope(text);
  ASSERT_TRUE(env.has_value());
  EXPECT_EQ(env->sender.agent_id.text(), long_aid);
  EXPECT_EQ(encode_envelope(*env), text);
  // Null extensions are absent and not written.
  env = decode_envelope(envelope_text(R"("error")", R"("extensions":null,)"));
  ASSERT_TRUE(env.has_value());
  EXPECT_FALSE(env->extensions.has_value());
  EXPECT_EQ(encode_envelope(*env), envelope_text(R"("error")"));
  // The one-member object form of the message type.
  env = decode_envelope(envelope_text(R"({"pop_response":null})"));
  ASSERT_TRUE(env.has_value());
  EXPECT_EQ(env->message_type, MessageType::PopResponse);
  // A name repeated inside the payload keeps its first place and its last value.
  text = envelope_text();
  text.replace(text.find(R"({"b":1,)"), 7, R"({"b":1,"x":0,"b":2,)");
  env = decode_envelope(text);
  ASSERT_TRUE(env.has_value());
  EXPECT_NE(encode_envelope(*env).find(R"("payload":{"b":2,"x":0,"a":[true,null]})"),
            std::string::npos);
}

TEST(Envelope, StrictReadingMessages) {
  const std::string names =
      "one of `version`, `message_type`, `message_id`, `timestamp`, `sender`, `payload`, "
      "`extensions`, `signature`";
  const std::string variants =
      "one of `mutual_hello`, `mutual_hello_ack`, `mutual_commit`, `mutual_commit_ack`, `tct`, "
      "`pop_challenge`, `pop_response`, `error`";
  std::string bad_sender = envelope_text();
  bad_sender.replace(bad_sender.find(kAid), kAid.size(), "aid:x");
  std::string bad_id = envelope_text();
  bad_id.replace(bad_id.find(kId), kId.size(), "nope");
  std::string number_id = envelope_text();
  number_id.replace(number_id.find(kId) - 1, kId.size() + 2, "5");
  std::string fraction = envelope_text();
  fraction.replace(fraction.find("1700000000"), 10, "1.5");
  std::string too_big = envelope_text();
  too_big.replace(too_big.find("1700000000"), 10, "9223372036854775808");
  std::string no_sig = envelope_text();
  no_sig.replace(no_sig.find(R"(,"signature")"), std::string::npos, "}");

  const std::string unknown_ext = envelope_text(R"("mutual_hello")", R"("ext":{},)");
  const std::string type_number = envelope_text("5");
  const std::string dup_version = envelope_text(R"("tct","version":"x")");
  // Data errors stand just after the offending value or member name.
  auto col = [](const std::string& text, const std::string& token) {
    return " at line 1 column " + std::to_string(text.find(token) + token.size());
  };
  struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {envelope_text() + " x",
       "trailing characters at line 1 column " + std::to_string(envelope_text().size() + 2)},
      {envelope_text(R"("TCT")"),
       "unknown variant `TCT`, expected " + variants + col(envelope_text(R"("TCT")"), "\"TCT\"")},
      // A message type that is neither a string nor an object is "expected value" at its start.
      {type_number, "expected value" + col(type_number, "\"message_type\":5")},
      {unknown_ext, "unknown field `ext`, expected " + names + col(unknown_ext, "\"ext\"")},
      {dup_version, "duplicate field `version`" + col(dup_version, "\"tct\",\"version\"")},
      {bad_sender,
       "AID method 'x' is not supported in v0.1; expected 'pubkey'" + col(bad_sender, "\"aid:x\"")},
      {bad_id, "UUID parsing failed: invalid character: found `n` at 0" + col(bad_id, "\"nope\"")},
      {number_id, "invalid type: integer `5`, expected a formatted UUID string" +
                      col(number_id, "\"message_id\":5")},
      {fraction,
       "invalid type: floating point `1.5`, expected i64" + col(fraction, "\"timestamp\":1.5")},
      {too_big, "invalid value: integer `9223372036854775808`, expected i64" +
                    col(too_big, "9223372036854775808")},
      {no_sig, "missing field `signature` at line 1 column " + std::to_string(no_sig.size())},
      {"[]", "invalid length 0, expected struct ZelkEnvelope with 8 elements at line 1 column 2"},
      {R"("x")", R"(invalid type: string "x", expected struct ZelkEnvelope at line 1 column 3)"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_error(c.text), c.message) << c.text;

  std::string sender_array = envelope_text();
  sender_array.replace(sender_array.find(R"({"agent_id":)"), 12, "[");
  sender_array.replace(sender_array.find(R"("},"payload")"), 2, "\"]");
  EXPECT_TRUE(decode_envelope(sender_array).has_value()) << decode_error(sender_array);
  std::string sender_empty = envelope_text();
  const std::size_t at = sender_empty.find(R"({"agent_id":)");
  sender_empty.replace(at, sender_empty.find(R"(,"payload")") - at, "[]");
  EXPECT_EQ(decode_error(sender_empty),
            "invalid length 0, expected struct Sender with 1 element at line 1 column " +
                std::to_string(at + 2));
}

TEST(Envelope, SigningText) {
  const Uuid id = *parse_uuid(kId);
  EXPECT_EQ(envelope_signing_text(id, 1700000000, kAid, "ab"), kId + "|1700000000|" + kAid + "|ab");
  EXPECT_EQ(envelope_signing_text(id, -42, kAid, "h"), kId + "|-42|" + kAid + "|h");
  EXPECT_EQ(envelope_signing_text(id, 0, kAid, "h"), kId + "|0|" + kAid + "|h");
  EXPECT_EQ(envelope_signing_text(id, INT64_MIN, "a", "h"), kId + "|-9223372036854775808|a|h");
}

TEST(Envelope, MessageTypeNames) {
  const char* names[] = {"mutual_hello", "mutual_hello_ack", "mutual_commit", "mutual_commit_ack",
                         "tct",          "pop_challenge",    "pop_response",  "error"};
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(message_type_name(static_cast<MessageType>(i)), names[i]);
    EXPECT_EQ(message_type_variant_identifier(names[i]), static_cast<MessageType>(i));
  }
  EXPECT_EQ(message_type_variant_identifier("TCT"), std::nullopt);
}

}  // namespace
}  // namespace zelk
