#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "formats/json/parse.hpp"
#include "manifest/manifest.hpp"

namespace zelk {
namespace {

const std::string kAid = "aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo";
const std::string kLongAid = "aid:pubkey:ed25519:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo";

using Overrides = std::map<std::string, std::string>;

// The 15 members in declared order, as map-form text. An override replaces a member's value text
// (an empty one leaves the member out); `tail` is spliced in before the signature.
std::string manifest_text(const Overrides& overrides = {}, const std::string& tail = "") {
  static const std::pair<const char*, std::string> members[] = {
      {"version", R"("zelk/0.2")"},
      {"aid", "\"" + kAid + "\""},
      {"display_name", R"("d")"},
      {"identity_hint", R"({"type":"pinned_key","subject":"s","public_key":"pk"})"},
      {"handshake_endpoint", R"("https://a.example/h")"},
      {"accepted_trust_anchors", "[]"},
      {"accepted_identity_types", R"(["pinned_key"])"},
      {"accepted_signature_algorithms", R"(["ed25519"])"},
      {"offered_capabilities", R"(["x","x",""])"},
      {"required_peer_capabilities", R"(["y"])"},
      {"proof_of_possession", R"({"challenge":"c","signature":"ps"})"},
      {"published_at", "-5"},
      {"expires_at", "9223372036854775807"},
      {"extensions", R"({"a":[1,{"z":null,"b":true}]})"},
      {"signature", R"("sig")"},
  };
  std::string out = "{";
  for (const auto& [name, value] : members) {
    const auto o = overrides.find(name);
    const std::string& text = o == overrides.end() ? value : o->second;
    if (std::string_view(name) == "signature") out += tail;
    if (text.empty()) continue;
    out += "\"" + std::string(name) + "\":" + text + ",";
  }
  if (out.back() == ',') out.pop_back();
  return out + "}";
}

// The same members as array-form elements, element i for member i.
std::vector<std::string> manifest_elements() {
  return {R"("zelk/0.2")",
          "\"" + kAid + "\"",
          R"("d")",
          R"(["pinned_key","s",null,"pk"])",
          R"("https://a.example/h")",
          "[]",
          R"(["pinned_key"])",
          R"(["ed25519"])",
          R"(["x","x",""])",
          R"(["y"])",
          R"(["c","ps"])",
          "-5",
          "9223372036854775807",
          R"({"a":[1,{"z":null,"b":true}]})",
          R"("sig")"};
}

std::string array_of(const std::vector<std::string>& elements, std::size_t count) {
  std::string out = "[";
  for (std::size_t i = 0; i < count && i < elements.size(); ++i) {
    if (i > 0) out += ',';
    out += elements[i];
  }
  return out + "]";
}

std::string envelope_of(const std::string& manifest) {
  return R"({"manifest":)" + manifest + "}";
}

// The text reader's full message, or "(read)".
std::string text_error(const std::string& envelope) {
  auto e = decode_manifest_envelope(envelope);
  return e ? "(read)" : e.error().full();
}

// The value reader's message for a Manifest given as text, or "(read)".
std::string value_error(const std::string& manifest) {
  auto v = json::parse_value(manifest);
  EXPECT_TRUE(v.has_value()) << manifest;
  auto m = manifest_from_value(*v);
  if (m) return "(read)";
  EXPECT_FALSE(m.error().has_position());
  return m.error().full();
}

std::string at(std::size_t column) {
  return " at line 1 column " + std::to_string(column);
}

TEST(ManifestRead, MapFormReadsEveryMemberAndWritesBackUnchanged) {
  const std::string text = envelope_of(manifest_text());
  auto env = decode_manifest_envelope(text);
  ASSERT_TRUE(env.has_value()) << env.error().full();
  const Manifest& m = env->manifest;
  EXPECT_EQ(m.version, "zelk/0.2");
  EXPECT_EQ(m.aid.text(), kAid);
  EXPECT_EQ(m.display_name, "d");
  EXPECT_EQ(m.identity_hint,
            (IdentityHint{IdentityType::PinnedKey, "s", std::nullopt, std::string("pk")}));
  EXPECT_EQ(m.offered_capabilities, (std::vector<std::string>{"x", "x", ""}));
  EXPECT_EQ(m.proof_of_possession, (ManifestPop{"c", "ps"}));
  EXPECT_EQ(m.published_at, -5);
  EXPECT_EQ(m.expires_at, INT64_MAX);
  EXPECT_EQ(m.signature, "sig");
  EXPECT_EQ(encode_manifest_envelope(*env), text);
  // The value reader gives the same record.
  auto value = json::parse_value(manifest_text());
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(manifest_from_value(*value), m);
}

TEST(ManifestRead, ArrayFormsAndTheirLengths) {
  const auto el = manifest_elements();
  auto full = decode_manifest_envelope(envelope_of(array_of(el, 15)));
  ASSERT_TRUE(full.has_value()) << full.error().full();
  auto map = decode_manifest_envelope(envelope_of(manifest_text()));
  EXPECT_EQ(full, map);
  // The envelope itself in array form.
  EXPECT_EQ(decode_manifest_envelope("[" + array_of(el, 15) + "]"), map);

  // A short array: optional members it did not reach are absent, so the failure names the first
  // required member missing, which may lie past the elements found.
  struct Case {
    std::size_t count;
    std::size_t missing;
  } short_cases[] = {{0, 0}, {1, 1},  {2, 3},   {3, 3},   {5, 5},
                     {6, 8}, {9, 10}, {12, 12}, {13, 14}, {14, 14}};
  for (const Case& c : short_cases) {
    const std::string manifest = array_of(el, c.count);
    const std::string message = "invalid length " + std::to_string(c.missing) +
                                ", expected struct Manifest with 15 elements";
    EXPECT_EQ(text_error(envelope_of(manifest)), message + at(12 + manifest.size())) << c.count;
    EXPECT_EQ(value_error(manifest), message) << c.count;
  }

  // Null stands in for an optional member; for a required one it is a type error.
  std::vector<std::string> nulls = el;
  for (std::size_t i : {2, 6, 7, 9, 13}) nulls[i] = "null";
  auto with_nulls = decode_manifest_envelope(envelope_of(array_of(nulls, 15)));
  ASSERT_TRUE(with_nulls.has_value()) << with_nulls.error().full();
  EXPECT_FALSE(with_nulls->manifest.display_name || with_nulls->manifest.extensions ||
               with_nulls->manifest.accepted_identity_types ||
               with_nulls->manifest.accepted_signature_algorithms ||
               with_nulls->manifest.required_peer_capabilities);
  struct Null {
    std::size_t index;
    std::string message;
  } required_nulls[] = {
      {0, "invalid type: null, expected a string"},
      {3, "invalid type: null, expected struct IdentityHint"},
      {5, "invalid type: null, expected a sequence"},
      {12, "invalid type: null, expected i64"},
  };
  for (const Null& n : required_nulls) {
    std::vector<std::string> one_null = el;
    one_null[n.index] = "null";
    const std::string manifest = array_of(one_null, 15);
    EXPECT_EQ(value_error(manifest), n.message) << n.index;
    EXPECT_TRUE(text_error(envelope_of(manifest)).starts_with(n.message + " at line 1 column "))
        << n.index;
  }

  // One element too many.
  std::vector<std::string> sixteen = el;
  sixteen.push_back("1");
  const std::string long_array = array_of(sixteen, 16);
  EXPECT_EQ(text_error(envelope_of(long_array)),
            "trailing characters" + at(12 + long_array.size() - 1));
  EXPECT_EQ(value_error(long_array), "invalid length 16, expected fewer elements in array");
}

TEST(ManifestRead, EnvelopeShapes) {
  const std::string m = manifest_text();
  EXPECT_EQ(text_error(R"({"manifest":)" + m + R"(,"x":1})"),
            "unknown field `x`, expected `manifest`" + at(12 + m.size() + 4));
  EXPECT_EQ(text_error("[" + m + "," + m + "]"), "trailing characters" + at(m.size() + 3));
  EXPECT_EQ(text_error("[" + m + ",]"), "trailing comma" + at(m.size() + 3));
  EXPECT_EQ(text_error("[]"),
            "invalid length 0, expected struct ManifestEnvelope with 1 element" + at(2));
  EXPECT_EQ(text_error("{}"), "missing field `manifest`" + at(2));
  EXPECT_EQ(text_error(R"("x")"),
            "invalid type: string \"x\", expected struct ManifestEnvelope" + at(3));
  EXPECT_EQ(text_error("null"), "invalid type: null, expected struct ManifestEnvelope" + at(4));
  EXPECT_EQ(text_error(""), "EOF while parsing a value" + at(0));
  EXPECT_EQ(text_error(" \n\t "), "EOF while parsing a value at line 2 column 2");
  EXPECT_EQ(text_error(envelope_of(m) + " x"), "trailing characters" + at(12 + m.size() + 3));
  EXPECT_EQ(text_error(" \r\n" + envelope_of(m) + "\n "), "(read)");
  EXPECT_EQ(text_error(R"({"manifest":7})"),
            "invalid type: integer `7`, expected struct Manifest" + at(13));
}

TEST(ManifestRead, MemberNamesDuplicatesAndMissing) {
  // Unknown names list every declared member in order.
  EXPECT_EQ(value_error(manifest_text({}, R"("Version":1,)")),
            "unknown field `Version`, expected one of `version`, `aid`, `display_name`, "
            "`identity_hint`, `handshake_endpoint`, `accepted_trust_anchors`, "
            "`accepted_identity_types`, `accepted_signature_algorithms`, "
            "`offered_capabilities`, `required_peer_capabilities`, `proof_of_possession`, "
            "`published_at`, `expires_at`, `extensions`, `signature`");
  const std::string hint_text = R"({"manifest":{"version":"v","aid":")" + kAid +
                                R"(","identity_hint":{"type":"oidc","subject":"s","kid":1})";
  EXPECT_EQ(text_error(hint_text),
            "unknown field `kid`, expected one of `type`, `subject`, `issuer`, `public_key`" +
                at(hint_text.size() - 3));
  // An escaped name is compared after unescaping: "\u0061id" is a second aid.
  const std::string dup = manifest_text({}, R"("\u0061id":")" + kAid + R"(",)");
  auto dup_pos = dup.find(R"("\u0061id")") + 10;
  EXPECT_EQ(text_error(envelope_of(dup)), "duplicate field `aid`" + at(12 + dup_pos));
  // A first occurrence given as null still counts.
  const std::string dup_null = R"({"version":"v","display_name":null,"display_name":"x")";
  EXPECT_EQ(text_error(envelope_of(dup_null + "}")),
            "duplicate field `display_name`" + at(12 + dup_null.rfind("display_name") + 13));
  // Through a value the second aid wins.
  auto value = json::parse_value(manifest_text({}, R"("aid":")" + kLongAid + R"(",)"));
  ASSERT_TRUE(value.has_value());
  auto m = manifest_from_value(*value);
  ASSERT_TRUE(m.has_value()) << m.error().full();
  EXPECT_EQ(m->aid.text(), kLongAid);

  EXPECT_EQ(text_error(R"({"manifest":{"display_name":"d"}})"), "missing field `version`" + at(32));
  EXPECT_EQ(value_error(R"({"aid":")" + kAid + R"("})"), "missing field `version`");
  EXPECT_EQ(value_error(R"({"version":"v","aid":")" + kAid + R"("})"),
            "missing field `identity_hint`");
  EXPECT_EQ(text_error(R"({"manifest":{"proof_of_possession":{"challenge":"c","x":1}}})"),
            "unknown field `x`, expected `challenge` or `signature`" + at(55));
}

TEST(ManifestRead, NullOptionalMembersAreAbsent) {
  const std::string text = envelope_of(
      R"({"version":"zelk/0.2","aid":")" + kAid +
      R"(","display_name":null,"identity_hint":{"type":"oidc","subject":"s","issuer":null,)"
      R"("public_key":null},"handshake_endpoint":"h","accepted_trust_anchors":["t"],)"
      R"("accepted_identity_types":null,"accepted_signature_algorithms":null,)"
      R"("offered_capabilities":[],"required_peer_capabilities":null,)"
      R"("proof_of_possession":{"challenge":"c","signature":"s"},"published_at":1,)"
      R"("expires_at":2,"extensions":null,"signature":"g"})");
  auto env = decode_manifest_envelope(text);
  ASSERT_TRUE(env.has_value()) << env.error().full();
  EXPECT_EQ(encode_manifest_envelope(*env),
            envelope_of(R"({"version":"zelk/0.2","aid":")" + kAid +
                        R"(","identity_hint":{"type":"oidc","subject":"s"},)"
                        R"("handshake_endpoint":"h","accepted_trust_anchors":["t"],)"
                        R"("offered_capabilities":[],)"
                        R"("proof_of_possession":{"challenge":"c","signature":"s"},)"
                        R"("published_at":1,"expires_at":2,"signature":"g"})"));
  // Members may come in any order.
  auto value = json::parse_value(text);
  ASSERT_TRUE(value.has_value());
  json::Object reversed;
  const json::Object& original = value->as_object().begin()->value.as_object();
  for (auto it = original.end(); it != original.begin();) {
    --it;
    reversed.push_back_unchecked(it->name, it->value);
  }
  json::Object env_object;
  env_object.push_back_unchecked("manifest", json::Value(std::move(reversed)));
  auto reread = decode_manifest_envelope(json::to_compact_string(json::Value(env_object)));
  ASSERT_TRUE(reread.has_value()) << reread.error().full();
  EXPECT_EQ(reread, env);
}

TEST(ManifestRead, IdentityHintAndTypeForms) {
  auto hint = [](const std::string& text) {
    return identity_hint_from_value(*json::parse_value(text));
  };
  auto two = hint(R"(["pinned_key","s"])");
  ASSERT_TRUE(two.has_value());
  EXPECT_EQ(*two, (IdentityHint{IdentityType::PinnedKey, "s", std::nullopt, std::nullopt}));
  auto three = hint(R"(["oidc","s","i"])");
  ASSERT_TRUE(three.has_value());
  EXPECT_EQ(three->issuer, "i");
  EXPECT_FALSE(three->public_key);
  EXPECT_EQ(hint(R"(["pinned_key"])").error().message,
            "invalid length 1, expected struct IdentityHint with 4 elements");
  EXPECT_EQ(hint(R"([])").error().message,
            "invalid length 0, expected struct IdentityHint with 4 elements");
  EXPECT_EQ(hint(R"(["oidc","s",null,null,1])").error().message,
            "invalid length 5, expected fewer elements in array");
  EXPECT_EQ(hint(R"({"type":{"oidc":null},"subject":"s"})")->type, IdentityType::Oidc);
  EXPECT_EQ(hint(R"({"type":"OIDC","subject":"s"})").error().message,
            "unknown variant `OIDC`, expected `oidc` or `pinned_key`");
  EXPECT_EQ(hint(R"({"type":{"pinned":null},"subject":"s"})").error().message,
            "unknown variant `pinned`, expected `oidc` or `pinned_key`");

  // From text, through the nested readers; the reader is left after the value.
  json::Reader reader(R"( ["pinned_key","s",null] , {"oidc":null} ["c","s"] "pinned_key" x)");
  auto read_hint = decode_identity_hint(reader);
  ASSERT_TRUE(read_hint.has_value()) << read_hint.error().full();
  EXPECT_EQ(read_hint->subject, "s");
  EXPECT_EQ(reader.peek(), json::Peek::Other);  // the comma
  json::Reader types(R"({"oidc":null} "pinned_key" "Oidc")");
  EXPECT_EQ(identity_type_from_str(types), IdentityType::Oidc);
  EXPECT_EQ(identity_type_from_str(types), IdentityType::PinnedKey);
  EXPECT_EQ(identity_type_from_str(types).error().full(),
            "unknown variant `Oidc`, expected `oidc` or `pinned_key` at line 1 column 33");
  json::Reader pops(R"(["c","s"] ["c"])");
  EXPECT_EQ(decode_manifest_pop(pops), (ManifestPop{"c", "s"}));
  EXPECT_EQ(decode_manifest_pop(pops).error().full(),
            "invalid length 1, expected struct ManifestPop with 2 elements at line 1 column 15");
  EXPECT_EQ(identity_type_from_value(json::Value("oidc")), IdentityType::Oidc);
  EXPECT_FALSE(identity_type_from_value(json::Value(1)).has_value());
  EXPECT_EQ(manifest_pop_from_value(*json::parse_value(R"({"signature":"s"})")).error().message,
            "missing field `challenge`");
  const std::string two_values = manifest_text() + " 1";
  json::Reader manifests(two_values);
  auto nested = decode_manifest(manifests);
  ASSERT_TRUE(nested.has_value()) << nested.error().full();
  EXPECT_EQ(manifests.peek(), json::Peek::Number);
}

TEST(ManifestRead, MemberValues) {
  struct Case {
    std::string member;
    std::string value;
    std::string message;
    std::string text_message = "";  // when the text reader says something else
  } cases[] = {
      {"published_at", "1.5", "invalid type: floating point `1.5`, expected i64"},
      {"published_at", R"("1")", "invalid type: string \"1\", expected i64"},
      {"published_at", "1e3", "invalid type: floating point `1000.0`, expected i64"},
      {"expires_at", "9223372036854775808",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {"version", "null", "invalid type: null, expected a string"},
      {"offered_capabilities", R"("x")", "invalid type: string \"x\", expected a sequence"},
      {"offered_capabilities", "[1]", "invalid type: integer `1`, expected a string"},
      {"accepted_identity_types", "[null]", "invalid type: null, expected a string"},
      {"extensions", "[]", "invalid type: sequence, expected a map"},
      {"identity_hint", R"("x")", "invalid type: string \"x\", expected struct IdentityHint"},
      {"identity_hint", R"({"type":1,"subject":"s"})",
       "invalid type: integer `1`, expected string or map", "expected value"},
      {"proof_of_possession", "1", "invalid type: integer `1`, expected struct ManifestPop"},
      {"aid", R"("pubkey:x")", "AID does not start with 'aid:'"},
      {"aid", "7", "invalid type: integer `7`, expected a string"},
  };
  for (const Case& c : cases) {
    const std::string text = manifest_text({{c.member, c.value}});
    EXPECT_EQ(value_error(text), c.message) << c.member << " " << c.value;
    const std::string text_message = text_error(envelope_of(text));
    const std::string& expected = c.text_message.empty() ? c.message : c.text_message;
    EXPECT_TRUE(text_message.starts_with(expected + " at line 1 column ")) << text_message;
  }
  auto small = manifest_from_value(*json::parse_value(
      manifest_text({{"published_at", "-9223372036854775808"}, {"expires_at", "0"}})));
  ASSERT_TRUE(small.has_value()) << small.error().full();
  EXPECT_EQ(small->published_at, INT64_MIN);
  EXPECT_EQ(small->expires_at, 0);
}

TEST(ManifestRead, AidPositionAndLongForm) {
  const std::string bad = R"({"manifest":{"version":"v","aid":"x:y")";
  EXPECT_EQ(text_error(bad + "}}"), "AID does not start with 'aid:'" + at(bad.size()));
  const std::string text = manifest_text({{"aid", "\"" + kLongAid + "\""}});
  auto env = decode_manifest_envelope(envelope_of(text));
  ASSERT_TRUE(env.has_value()) << env.error().full();
  EXPECT_EQ(env->manifest.aid.text(), kLongAid);
  EXPECT_EQ(encode_manifest_envelope(*env), envelope_of(text));
}

TEST(ManifestRead, ExtensionsAreSortedAndKeepTheLastValue) {
  auto read_ext = [](const std::string& ext) {
    auto env = decode_manifest_envelope(envelope_of(manifest_text({{"extensions", ext}})));
    EXPECT_TRUE(env.has_value()) << env.error().full();
    const std::string written = encode_manifest_envelope(*env);
    const std::size_t from = written.find(R"("extensions":)");
    return from == std::string::npos
               ? std::string("(none)")
               : written.substr(from + 13, written.rfind(R"(,"signature")") - from - 13);
  };
  EXPECT_EQ(read_ext(R"({"b": 1, "a": 2})"), R"({"a":2,"b":1})");
  EXPECT_EQ(read_ext("{}"), "{}");
  EXPECT_EQ(read_ext("null"), "(none)");
  EXPECT_EQ(read_ext(R"({"a": 1, "a": 2})"), R"({"a":2})");
  // Byte order of the names; nested objects keep their own order.
  EXPECT_EQ(read_ext(R"({"b":{"y":1,"x":2},"B":0,"\u00e9":1,"a":0})"),
            "{\"B\":0,\"a\":0,\"b\":{\"y\":1,\"x\":2},\"\xc3\xa9\":1}");
}

TEST(ManifestRead, NestingLimit) {
  // The envelope and the Manifest use two levels, the extensions object a third.
  auto nested = [](int depth) {
    const std::string ext = R"({"a":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
    return text_error(envelope_of(manifest_text({{"extensions", ext}})));
  };
  EXPECT_EQ(nested(124), "(read)");
  EXPECT_TRUE(nested(125).starts_with("recursion limit exceeded at line 1 column ")) << nested(125);
}

}  // namespace
}  // namespace zelk
