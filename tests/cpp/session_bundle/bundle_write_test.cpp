#include <gtest/gtest.h>

#include <string>

#include "bundle_fixture.hpp"
#include "session_bundle/bundle.hpp"

namespace zelk {
namespace {

using test::json_str;

class BundleWrite : public test::BundleTest {
 protected:
  SessionTrustBundle sample() const {
    SessionTrustBundle b;
    b.version = "zelk/0.2";
    b.session_id = session_id();
    b.coordinator = coordinator.aid();
    b.issued_at = -5;
    b.expires_at = 1'700'003'540;
    b.participants = {{alice.aid(), "h.p.s"}, {bob.aid(), "t\"q"}};
    b.signature = "sig";
    return b;
  }
  std::string participants_text() const {
    return R"([{"aid":")" + alice.aid_text() + R"(","tct":"h.p.s"},{"aid":")" + bob.aid_text() +
           R"(","tct":"t\"q"}])";
  }
};

TEST_F(BundleWrite, EnvelopeListsMembersInDeclaredOrder) {
  SessionTrustBundle b = sample();
  const std::string head =
      R"({"session_bundle":{"version":"zelk/0.2","session_id":")" + std::string(test::kSessionId) +
      R"(","coordinator":")" + coordinator.aid_text() +
      R"(","issued_at":-5,"expires_at":1700003540,"participants":)" + participants_text();
  EXPECT_EQ(encode_session_bundle_envelope(b), head + R"(,"signature":"sig"}})");
  b.extensions.emplace();
  b.extensions->insert_or_assign("z", json::Value(std::int64_t{1}));
  b.extensions->insert_or_assign("a", json::Value(true));
  EXPECT_EQ(encode_session_bundle_envelope(b),
            head + R"(,"extensions":{"z":1,"a":true},"signature":"sig"}})");
  // What is written reads back to the same bundle.
  EXPECT_EQ(*decode_session_bundle_envelope(encode_session_bundle_envelope(b)), b);
}

TEST_F(BundleWrite, SigningBytesAreTheSortedBodyWithoutSignature) {
  SessionTrustBundle b = sample();
  const std::string tail = R"(,"issued_at":-5,"participants":)" + participants_text() +
                           R"(,"session_id":")" + std::string(test::kSessionId) +
                           R"(","version":"zelk/0.2"})";
  const std::string head =
      R"({"coordinator":")" + coordinator.aid_text() + R"(","expires_at":1700003540)";
  EXPECT_EQ(*bundle_signing_bytes(b), head + tail);
  b.signature = "other";
  EXPECT_EQ(*bundle_signing_bytes(b), head + tail);
  b.extensions.emplace();
  b.extensions->insert_or_assign("z", json::Value(std::int64_t{1}));
  b.extensions->insert_or_assign("a", json::Value(std::uint64_t{1} << 60));
  EXPECT_EQ(*bundle_signing_bytes(b),
            head + R"(,"extensions":{"a":1152921504606847000,"z":1})" + tail);
  b.extensions.emplace();
  EXPECT_EQ(*bundle_signing_bytes(b), head + R"(,"extensions":{})" + tail);
}

TEST_F(BundleWrite, SessionIdEntersAsItsStandardText) {
  const std::string text = encode_session_bundle_envelope(sample());
  std::string upper = text;
  const std::string id(test::kSessionId);
  std::string id_upper = "{6BA7B810-9DAD-41D1-80B4-00C04FD430C8}";
  upper.replace(upper.find(id), id.size(), id_upper);
  auto a = decode_session_bundle_envelope(text);
  auto b = decode_session_bundle_envelope(upper);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*bundle_signing_bytes(*a), *bundle_signing_bytes(*b));
}

TEST_F(BundleWrite, NonFiniteExtensionFailsTheSigningInput) {
  SessionTrustBundle b = sample();
  b.extensions.emplace();
  b.extensions->insert_or_assign("x", json::Value(std::numeric_limits<double>::infinity()));
  auto bytes = bundle_signing_bytes(b);
  ASSERT_FALSE(bytes.has_value());
  EXPECT_EQ(bytes.error().message(),
            "canonicalization failed: serialization failed: " +
                json::canonical_json(json::Value(std::numeric_limits<double>::infinity()))
                    .error()
                    .reason);
}

}  // namespace
}  // namespace zelk
