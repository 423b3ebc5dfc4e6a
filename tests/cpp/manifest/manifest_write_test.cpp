#include <gtest/gtest.h>

#include <string>

#include "core/extensions.hpp"
#include "formats/json/writer.hpp"
#include "manifest_fixture.hpp"

namespace zelk {
namespace {

json::Object unsorted() {
  json::Object ext;
  ext.push_back_unchecked("b", json::Value(1));
  ext.push_back_unchecked("a", json::Value(json::Array{json::Value(), json::Value(true)}));
  return ext;
}

TEST(ManifestWrite, EnvelopeSkeletonOfABuiltManifest) {
  const SigningKey key = test::p256_key(2);
  const Manifest m = test::build_ok(test::full_builder(key));
  const std::string pk = key.aid_text().substr(key.aid_text().rfind(':') + 1);
  EXPECT_EQ(encode_manifest_envelope(m),
            R"({"manifest":{"version":"zelk/0.2","aid":")" + key.aid_text() +
                R"(","display_name":"Agent \"Q\"","identity_hint":{"type":"pinned_key",)"
                R"("subject":"agent-q","public_key":")" +
                pk +
                R"("},"handshake_endpoint":"https://agent.example/zelk/handshake/hello",)"
                R"("accepted_trust_anchors":["https://issuer.example/"],)"
                R"("accepted_identity_types":["pinned_key"],)"
                R"("offered_capabilities":["files:read","files:write"],)"
                R"("required_peer_capabilities":["chat"],"proof_of_possession":{"challenge":")" +
                m.proof_of_possession.challenge + R"(","signature":")" +
                m.proof_of_possession.signature +
                R"("},"published_at":1700000000,"expires_at":1700003600,)"
                R"("extensions":{"alpha":"a","zeta":1},"signature":")" +
                m.signature + R"("}})");
  // The value form holds the same members in the same order.
  json::Object payload;
  manifest_envelope_to_value(payload, m);
  EXPECT_EQ(json::to_compact_string(json::Value(payload)), encode_manifest_envelope(m));
  ManifestEnvelope envelope{m};
  EXPECT_EQ(encode_manifest_envelope(envelope), encode_manifest_envelope(m));
}

TEST(ManifestWrite, ExtensionsAreWrittenSortedWhateverTheirHeldOrder) {
  Manifest m = test::build_ok(test::full_builder(test::ed25519_key(1)));
  m.extensions = unsorted();  // a caller's own, unsorted map
  const std::string text = encode_manifest_envelope(m);
  EXPECT_NE(text.find(R"("extensions":{"a":[null,true],"b":1},"signature")"), std::string::npos);
  json::Object payload;
  manifest_envelope_to_value(payload, m);
  EXPECT_EQ(json::to_compact_string(json::Value(payload)), text);
  m.extensions = json::Object{};
  EXPECT_NE(encode_manifest_envelope(m).find(R"("extensions":{},)"), std::string::npos);
}

TEST(ManifestWrite, MemberWritersForOtherRecords) {
  json::Object object;
  object.push_back_unchecked("first", json::Value(0));
  write_extensions_value_member(object, unsorted());
  write_issuer_value_member(object, std::string("https://i.example/"));
  manifest_pop_to_value(object, {"c", "s"});
  EXPECT_EQ(json::to_compact_string(json::Value(object)),
            R"({"first":0,"extensions":{"a":[null,true],"b":1},"issuer":"https://i.example/",)"
            R"("proof_of_possession":{"challenge":"c","signature":"s"}})");
  json::Object absent;
  write_extensions_value_member(absent, std::nullopt);
  write_issuer_value_member(absent, std::nullopt);
  EXPECT_EQ(json::to_compact_string(json::Value(absent)), R"({"extensions":null,"issuer":null})");

  std::string text = "{";
  write_extensions_json_member(text, unsorted(), true);
  write_extensions_json_member(text, std::nullopt, false);
  text += "}";
  EXPECT_EQ(text, R"({"extensions":{"a":[null,true],"b":1},"extensions":null})");
}

}  // namespace
}  // namespace zelk
