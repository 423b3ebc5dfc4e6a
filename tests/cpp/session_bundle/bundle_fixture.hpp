#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../tct/tct_test_util.hpp"
#include "crypto/detached.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "session_bundle/build.hpp"
#include "session_bundle/bundle.hpp"
#include "session_bundle/verify.hpp"
#include "tct/mint.hpp"

namespace zelk::test {

inline constexpr std::string_view kSessionId = "6ba7b810-9dad-41d1-80b4-00c04fd430c8";

// A coordinator, three participants and a stranger; TCTs are minted by the coordinator at kNow
// unless a test signs its own.
class BundleTest : public ::testing::Test {
 protected:
  SigningKey coordinator = ed_key(1);
  SigningKey alice = ed_key(2);
  SigningKey bob = ed_key(3);
  SigningKey carol = p256_key(4);
  SigningKey stranger = ed_key(9);

  static Uuid session_id() { return *parse_uuid(kSessionId); }

  // A TCT from `issuer` to `subject`, valid from kNow - 60 for `ttl` seconds.
  static MintedTct mint_for(const SigningKey& issuer, const SigningKey& subject,
                            std::int64_t ttl = 3600) {
    TctIssueParams p = new_tct_issue_params(issuer);
    p.subject = subject.aid();
    p.audience = subject.aid();
    p.subject_pubkey = subject.verifying_key();
    p.grants = {"read"};
    p.ttl_secs = ttl;
    p.iat = kNow - 60;
    p.with_voucher = false;
    auto minted = mint_tct(std::move(p));
    EXPECT_TRUE(minted.has_value());
    return std::move(*minted);
  }
  ParticipantEntry entry(const SigningKey& subject, std::int64_t ttl = 3600) const {
    return {subject.aid(), mint_for(coordinator, subject, ttl).tct};
  }

  std::string build(const std::vector<ParticipantEntry>& participants) const {
    auto text = build_session_bundle(coordinator, session_id(), kNow, participants);
    EXPECT_TRUE(text.has_value()) << text.error().message();
    return text.value_or("");
  }
  SessionTrustBundle built(const std::vector<ParticipantEntry>& participants) const {
    auto bundle = decode_session_bundle_envelope(build(participants));
    EXPECT_TRUE(bundle.has_value()) << bundle.error().full();
    return bundle.value_or(SessionTrustBundle{});
  }

  // Signs a bundle changed by a test, so that only the change is wrong.
  static void resign(SessionTrustBundle& bundle, const SigningKey& key) {
    auto bytes = bundle_signing_bytes(bundle);
    ASSERT_TRUE(bytes.has_value());
    bundle.signature = sign_detached(key, std::string_view(*bytes));
  }

  static std::string outcome(const SessionTrustBundle& bundle, const SigningKey& verifier,
                             std::int64_t now = kNow, const RevocationCheck* check = nullptr) {
    auto r = verify_bundle(bundle, verifier.aid(), now, check);
    return r ? "(verified)" : r.error().message();
  }
};

}  // namespace zelk::test
