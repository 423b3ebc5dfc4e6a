#include "handshake/state_machine.hpp"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <algorithm>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "exchange_fixture.hpp"
#include "handshake/grants.hpp"
#include "handshake/token_exchange.hpp"
#include "tct/claims.hpp"
#include "tct/mint.hpp"

namespace zelk {
namespace {

using exchange_test::kNow;
using Grants = std::vector<std::string>;

Uuid uuid_of(std::uint8_t byte) {
  Uuid out;
  out.bytes.fill(byte);
  return out;
}

ZelkEnvelope envelope(MessageType type, const Aid& sender, const Uuid& id, json::Value payload) {
  return ZelkEnvelope{.version = "zelk/0.2",
                      .message_type = type,
                      .message_id = id,
                      .timestamp = kNow,
                      .sender = Sender{sender},
                      .payload = std::move(payload),
                      .extensions = std::nullopt,
                      .signature = "not checked"};
}

// Every payload goes through its JSON value and back, as it would between two processes.
template <typename T>
T over_the_wire(const T& payload) {
  if constexpr (std::is_same_v<T, MutualHelloPayload>)
    return *mutual_hello_from_value(mutual_hello_to_value(payload));
  else if constexpr (std::is_same_v<T, MutualHelloAckPayload>)
    return *mutual_hello_ack_from_value(mutual_hello_ack_to_value(payload));
  else if constexpr (std::is_same_v<T, MutualCommitPayload>)
    return *mutual_commit_from_value(mutual_commit_to_value(payload));
  else
    return *mutual_commit_ack_from_value(mutual_commit_ack_to_value(payload));
}

const char* state_name(const InitiatorState& s) {
  constexpr const char* names[] = {"none", "HelloSent", "CommitSent", "Complete", "Failed"};
  return names[s.index()];
}
const char* state_name(const ResponderState& s) {
  constexpr const char* names[] = {"none", "HelloProcessed", "Complete", "Failed"};
  return names[s.index()];
}

// One handshake between an initiator and a responder, driven step by step. Each step keeps the
// message it produced so that tests can replay, alter or skip it.
struct Exchange {
  const exchange_test::IdentityProvider& idp;
  const JwksResolver& resolver;
  const exchange_test::Agent& initiator;
  const exchange_test::Agent& responder;
  Grants requested{"files:read", "files:write"};
  std::int64_t responder_now = kNow;
  std::int64_t initiator_now = kNow;
  const TrustStore* initiator_store = nullptr;
  const TrustStore* responder_store = nullptr;

  InitiatorState istate{};
  ResponderState rstate{};
  ZelkEnvelope hello_env{};
  MutualHelloPayload hello{};
  ZelkEnvelope ack_env{};
  MutualHelloAckPayload ack{};
  MutualCommitPayload commit{};
  MutualCommitAckPayload commit_ack{};
  std::optional<ReceivedTct> responder_received{};
  std::optional<ReceivedTct> initiator_received{};

  HandshakeContext icontext() const {
    HandshakeContext c = initiator.context(resolver, initiator_now);
    c.trust_store = initiator_store;
    return c;
  }
  HandshakeContext rcontext() const {
    HandshakeContext c = responder.context(resolver, responder_now);
    c.trust_store = responder_store;
    return c;
  }

  std::expected<void, HandshakeError> send_hello() {
    auto out = begin_hello(istate, initiator.identity_for(idp, responder.manifest.aid),
                           responder.manifest.aid, uuid_of(1), kNow, requested, initiator.key,
                           initiator.manifest);
    if (!out) return std::unexpected(out.error());
    hello = over_the_wire(*out);
    hello_env = envelope(MessageType::MutualHello, initiator.key.aid(), uuid_of(1),
                         mutual_hello_to_value(hello));
    return {};
  }
  std::expected<void, HandshakeError> answer_hello() {
    // The responder asks for what the initiator offers.
    auto out = on_hello(hello_env, hello, responder.identity_for(idp, hello.manifest.aid),
                        uuid_of(2), kNow, hello.manifest.offered_capabilities, rcontext());
    if (!out) return std::unexpected(out.error());
    rstate = std::move(out->state);
    ack = over_the_wire(out->payload);
    ack_env = envelope(MessageType::MutualHelloAck, responder.key.aid(), uuid_of(2),
                       mutual_hello_ack_to_value(ack));
    return {};
  }
  std::expected<void, HandshakeError> send_commit() {
    auto out = on_hello_ack(istate, ack_env, ack, icontext());
    if (!out) return std::unexpected(out.error());
    commit = over_the_wire(*out);
    return {};
  }
  std::expected<void, HandshakeError> answer_commit() {
    auto out = on_commit(rstate, initiator.key.aid(), commit, rcontext());
    if (!out) return std::unexpected(out.error());
    commit_ack = over_the_wire(out->payload);
    responder_received = std::move(out->received);
    return {};
  }
  std::expected<void, HandshakeError> complete() {
    auto out = on_commit_ack(istate, responder.key.aid(), commit_ack, icontext());
    if (!out) return std::unexpected(out.error());
    initiator_received = std::move(*out);
    return {};
  }

  // Runs the steps up to and including `steps` of the five; any failure fails the test.
  void advance(int steps) {
    for (int i = 0; i < steps; ++i) {
      auto out = step(i);
      ASSERT_TRUE(out.has_value()) << "step " << i << ": " << out.error().message();
    }
  }
  std::expected<void, HandshakeError> step(int i) {
    switch (i) {
      case 0:
        return send_hello();
      case 1:
        return answer_hello();
      case 2:
        return send_commit();
      case 3:
        return answer_commit();
      default:
        return complete();
    }
  }
};

std::string message_of(const std::expected<void, HandshakeError>& out) {
  return out ? std::string("ok") : out.error().message();
}

// ---- complete handshakes ---------------------------------------------------------------------

struct Pairing {
  const char* name;
  bool initiator_p256, initiator_oidc, responder_p256, responder_oidc, idp_p256;
};

class FullHandshake : public ::testing::TestWithParam<Pairing> {};

TEST_P(FullHandshake, BothSidesEndHoldingEachOthersVerifiedTokens) {
  const Pairing& p = GetParam();
  const exchange_test::IdentityProvider idp{p.idp_p256 ? test::p256_key(0x71) : test::ed_key(0x70)};
  const exchange_test::TestResolver resolver{{idp.jwk()}};
  const exchange_test::Agent initiator{p.initiator_p256 ? test::p256_key(11) : test::ed_key(11),
                                       "alice",
                                       {.oidc = p.initiator_oidc,
                                        .offered = {"chat", "files:read"},
                                        .required = Grants{"files:read"}}};
  const exchange_test::Agent responder{p.responder_p256 ? test::p256_key(12) : test::ed_key(12),
                                       "bob",
                                       {.oidc = p.responder_oidc,
                                        .offered = {"files:read", "files:write", "search"},
                                        .required = Grants{"chat"}}};
  Exchange run{idp, resolver, initiator, responder};
  run.requested = {"files:write", "admin", "files:read"};
  ERR_clear_error();
  run.advance(5);
  EXPECT_EQ(ERR_peek_error(), 0u);  // no OpenSSL error left behind by any of the steps
  EXPECT_TRUE(std::holds_alternative<HandshakeComplete>(run.istate));
  EXPECT_TRUE(std::holds_alternative<HandshakeComplete>(run.rstate));
  EXPECT_EQ(run.hello.identity.type,
            p.initiator_oidc ? IdentityType::Oidc : IdentityType::PinnedKey);
  EXPECT_EQ(run.ack.identity.type, p.responder_oidc ? IdentityType::Oidc : IdentityType::PinnedKey);

  // What each message carries besides the checks above.
  EXPECT_EQ(run.hello.manifest, initiator.manifest);
  EXPECT_EQ(run.hello.requested_grants, run.requested);
  EXPECT_EQ(run.hello.pop_nonce.size(), 22u);
  EXPECT_EQ(run.ack.manifest, responder.manifest);
  EXPECT_EQ(run.ack.requested_grants, initiator.manifest.offered_capabilities);
  EXPECT_EQ(run.ack.pop_nonce.size(), 22u);
  EXPECT_NE(run.ack.pop_nonce, run.hello.pop_nonce);
  EXPECT_EQ(run.ack.pop_nonce_echo, run.hello.pop_nonce);
  EXPECT_EQ(run.commit.pop_nonce_echo, run.ack.pop_nonce);
  EXPECT_EQ(run.commit_ack.pop_nonce_echo, run.hello.pop_nonce);
  EXPECT_TRUE(run.commit.grant_voucher.has_value());
  for (const auto* extensions : {&run.hello.extensions, &run.ack.extensions, &run.commit.extensions,
                                 &run.commit_ack.extensions})
    EXPECT_FALSE(extensions->has_value());

  // The initiator holds what the responder issued: what it asked for, as far as it was offered.
  const TctClaims& to_initiator = run.initiator_received->tct.claims();
  EXPECT_EQ(to_initiator.iss, responder.manifest.aid);
  EXPECT_EQ(to_initiator.sub, initiator.manifest.aid);
  EXPECT_EQ(to_initiator.grants, (Grants{"files:write", "files:read"}));
  EXPECT_EQ(run.initiator_received->tct.token(), run.commit_ack.tct);
  EXPECT_EQ(run.initiator_received->grant_voucher, run.commit_ack.grant_voucher);
  ASSERT_TRUE(run.commit_ack.grant_voucher.has_value());

  // The responder holds what the initiator issued for the initiator's own offer.
  const TctClaims& to_responder = run.responder_received->tct.claims();
  EXPECT_EQ(to_responder.iss, initiator.manifest.aid);
  EXPECT_EQ(to_responder.sub, responder.manifest.aid);
  EXPECT_EQ(to_responder.grants, (Grants{"chat", "files:read"}));
  EXPECT_EQ(run.responder_received->tct.token(), run.commit.tct);
  EXPECT_EQ(run.responder_received->grant_voucher, run.commit.grant_voucher);
  EXPECT_EQ(to_responder.exp - to_responder.iat, 3600);

  // Both ended: every later step refuses.
  EXPECT_EQ(message_of(run.send_commit()), "handshake state error: on_hello_ack out of order");
  EXPECT_EQ(message_of(run.answer_commit()), "handshake state error: on_commit out of order");
  EXPECT_EQ(message_of(run.complete()), "handshake state error: on_commit_ack out of order");
}

INSTANTIATE_TEST_SUITE_P(
    Pairings, FullHandshake,
    ::testing::Values(Pairing{"PinnedPinned", false, false, false, false, false},
                      Pairing{"PinnedOidc", false, false, true, true, false},
                      Pairing{"OidcPinned", true, true, false, false, true},
                      Pairing{"OidcOidcP256", true, true, true, true, true},
                      Pairing{"OidcOidcEd25519IdpP256", false, true, true, true, true},
                      Pairing{"OidcOidcMixedIdpEd25519", true, true, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the fixture for single-step behaviour ---------------------------------------------------

class StateMachine : public ::testing::Test {
 protected:
  exchange_test::IdentityProvider idp;
  exchange_test::TestResolver resolver{{idp.jwk()}};
  exchange_test::Agent alice{test::ed_key(21), "alice", {.offered = {"chat", "files:read"}}};
  exchange_test::Agent bob{test::ed_key(22), "bob", {.offered = {"files:read", "files:write"}}};
  exchange_test::Agent mallory{test::ed_key(23), "mallory", {}};

  std::unique_ptr<Exchange> start() {
    return std::make_unique<Exchange>(Exchange{idp, resolver, alice, bob});
  }
};

TEST_F(StateMachine, StepsOutOfOrderAreRefusedAndChangeNothing) {
  // Reach every state of both sides, then call each step that does not belong there.
  std::vector<std::unique_ptr<Exchange>> reached;
  for (int steps = 0; steps <= 5; ++steps) {
    auto r = start();
    r->advance(steps);
    reached.push_back(std::move(r));
  }
  {  // failed on both sides
    auto r = start();
    r->advance(3);
    const auto good = r->commit;
    r->commit.pop_nonce_echo = r->hello.pop_nonce;
    EXPECT_FALSE(r->answer_commit().has_value());
    r->commit = good;
    EXPECT_FALSE(on_commit_ack(r->istate, mallory.key.aid(), {}, r->icontext()).has_value());
    reached.push_back(std::move(r));
  }
  for (auto& at : reached) {
    Exchange& r = *at;
    const std::string before_i = state_name(r.istate);
    const std::string before_r = state_name(r.rstate);
    if (!std::holds_alternative<HelloSent>(r.istate)) {
      EXPECT_EQ(message_of(r.send_commit()), "handshake state error: on_hello_ack out of order")
          << before_i;
    }
    if (!std::holds_alternative<CommitSent>(r.istate)) {
      EXPECT_EQ(message_of(r.complete()), "handshake state error: on_commit_ack out of order")
          << before_i;
    }
    if (!std::holds_alternative<HelloProcessed>(r.rstate)) {
      EXPECT_EQ(message_of(r.answer_commit()), "handshake state error: on_commit out of order")
          << before_r;
    }
    EXPECT_EQ(state_name(r.istate), before_i);
    EXPECT_EQ(state_name(r.rstate), before_r);
  }
  // Every state of both sides was visited.
  std::set<std::string> seen_i, seen_r;
  for (const auto& at : reached) {
    seen_i.insert(state_name(at->istate));
    seen_r.insert(state_name(at->rstate));
  }
  EXPECT_EQ(seen_i.size(), 5u);
  EXPECT_EQ(seen_r.size(), 4u);
}

TEST_F(StateMachine, ANewHelloStartsAfreshFromAnyState) {
  auto r = start();
  r->advance(5);
  ASSERT_TRUE(r->send_hello().has_value());
  ASSERT_TRUE(std::holds_alternative<HelloSent>(r->istate));
  ASSERT_TRUE(r->answer_hello().has_value());
  ASSERT_TRUE(std::holds_alternative<HelloProcessed>(r->rstate));
  // The earlier answer no longer fits: it echoes the old nonce.
  r->advance(0);
  ASSERT_TRUE(r->send_commit().has_value());
  ASSERT_TRUE(r->answer_commit().has_value());
  ASSERT_TRUE(r->complete().has_value());

  // A hello that cannot be built leaves the state as it was.
  const exchange_test::Agent p256_pinned{test::p256_key(24), "pinned", {}};
  Exchange failing{idp, resolver, p256_pinned, bob};
  failing.istate = HandshakeFailed{};
  EXPECT_EQ(message_of(failing.send_hello()),
            "identity verification failed: pinned_key identity requires an Ed25519 signing key "
            "(v0.1 wire format encodes a 32-byte raw public key); use OIDC identity for P-256 "
            "agents");
  EXPECT_TRUE(std::holds_alternative<HandshakeFailed>(failing.istate));
  auto mid = start();
  mid->advance(3);
  failing.istate = std::move(mid->istate);
  EXPECT_FALSE(failing.send_hello().has_value());
  EXPECT_TRUE(std::holds_alternative<CommitSent>(failing.istate));
}

TEST_F(StateMachine, ResponderRefusesHellosThatDoNotCheckOut) {
  auto r = start();
  r->advance(1);
  r->hello_env.sender.agent_id = mallory.key.aid();
  EXPECT_EQ(message_of(r->answer_hello()),
            "invalid envelope: manifest.aid does not match sender.agent_id");
  r->advance(1);
  r->hello_env.timestamp += 1;  // the pinned-key proof is bound to the envelope
  EXPECT_EQ(message_of(r->answer_hello()),
            "identity verification failed: pinned_key signature invalid");
  // None of this touched the responder's state.
  EXPECT_TRUE(std::holds_alternative<NoHandshake>(r->rstate));

  const exchange_test::Agent stale{test::ed_key(25), "stale", {.ttl_secs = 30}};
  Exchange expired{idp, resolver, stale, bob};
  expired.advance(1);
  EXPECT_EQ(message_of(expired.answer_hello()),
            "manifest verification failed: manifest has expired");
}

// Trusts only the keys it was given.
class KeySetStore : public TrustStore {
 public:
  explicit KeySetStore(std::vector<const SigningKey*> keys) : keys_(std::move(keys)) {}
  bool is_trusted(std::span<const std::uint8_t, 32> key) const override {
    ++asked;
    for (const SigningKey* k : keys_)
      if (std::ranges::equal(k->public_key(), key)) return true;
    return false;
  }
  mutable int asked = 0;

 private:
  std::vector<const SigningKey*> keys_;
};

TEST_F(StateMachine, TrustStoreOfPinnedKeysOnBothSides) {
  const KeySetStore trusts_both({&alice.key, &bob.key});
  auto r = start();
  r->initiator_store = &trusts_both;
  r->responder_store = &trusts_both;
  r->advance(5);
  EXPECT_EQ(trusts_both.asked, 2);

  const KeySetStore trusts_mallory({&mallory.key});
  const std::string refused = "identity verification failed: pinned_key not in local trust store";
  auto responder_refuses = start();
  responder_refuses->responder_store = &trusts_mallory;
  responder_refuses->advance(1);
  EXPECT_EQ(message_of(responder_refuses->answer_hello()), refused);
  EXPECT_STREQ(state_name(responder_refuses->rstate), "none");

  auto initiator_refuses = start();
  initiator_refuses->initiator_store = &trusts_mallory;
  initiator_refuses->advance(2);
  EXPECT_EQ(message_of(initiator_refuses->send_commit()), refused);
  EXPECT_STREQ(state_name(initiator_refuses->istate), "Failed");
}

// Each check of on_hello_ack, with the state it leaves.
TEST_F(StateMachine, HelloAckChecksAndTheStateTheyLeave) {
  struct Case {
    const char* name;
    void (*alter)(Exchange&, const exchange_test::Agent& mallory);
    const char* error;
    bool failed;  // otherwise the state stays HelloSent
  };
  const Case cases[] = {
      {"sender",
       [](Exchange& r, const exchange_test::Agent& m) { r.ack_env.sender.agent_id = m.key.aid(); },
       "invalid envelope: HELLO_ACK sender AID does not match the intended peer", true},
      {"manifest aid",
       [](Exchange& r, const exchange_test::Agent& m) {
         r.ack.manifest = m.manifest;
         r.ack_env.sender.agent_id = r.responder.key.aid();
       },
       "invalid envelope: HELLO_ACK manifest AID does not match the intended peer", true},
      {"nonce echo",
       [](Exchange& r, const exchange_test::Agent&) { r.ack.pop_nonce_echo = r.ack.pop_nonce; },
       "nonce mismatch", true},
      {"identity",
       [](Exchange& r, const exchange_test::Agent&) { r.ack.identity.subject = "robert"; },
       "identity verification failed: identity.subject != manifest.identity_hint.subject", true},
      {"proof binding",
       [](Exchange& r, const exchange_test::Agent&) { r.ack_env.message_id = uuid_of(9); },
       "identity verification failed: pinned_key signature invalid", true},
      {"nothing offered",
       [](Exchange& r, const exchange_test::Agent&) { r.ack.requested_grants = {"admin"}; },
       "policy denies handshake (empty grant intersection)", false},
  };
  for (const Case& c : cases) {
    auto r = start();
    r->advance(2);
    const auto good_env = r->ack_env;
    const auto good_ack = r->ack;
    c.alter(*r, mallory);
    EXPECT_EQ(message_of(r->send_commit()), c.error) << c.name;
    EXPECT_STREQ(state_name(r->istate), c.failed ? "Failed" : "HelloSent") << c.name;
    // The genuine answer afterwards: refused in Failed, accepted in HelloSent.
    r->ack_env = good_env;
    r->ack = good_ack;
    EXPECT_EQ(message_of(r->send_commit()),
              c.failed ? "handshake state error: on_hello_ack out of order" : "ok")
        << c.name;
  }
}

TEST_F(StateMachine, OidcResponderWithANonceThatIsNotBase64Url) {
  exchange_test::Agent oidc_bob{test::p256_key(26), "bob", {.oidc = true}};
  Exchange r{idp, resolver, alice, oidc_bob};
  r.advance(2);
  // The OIDC check compares the nonce as text, so it passes; signing over it cannot.
  r.ack.pop_nonce = "not base64url!";
  r.ack.identity.proof =
      idp.token("bob", oidc_bob.key, alice.manifest.aid.text(), "not base64url!", kNow);
  EXPECT_EQ(message_of(r.send_commit()), "invalid envelope: pop nonce is not valid base64url");
  EXPECT_STREQ(state_name(r.istate), "HelloSent");
}

// Each check of on_commit, with the state it leaves.
TEST_F(StateMachine, CommitChecksAndTheStateTheyLeave) {
  struct Case {
    const char* name;
    void (*alter)(Exchange&, const exchange_test::Agent& mallory);
    const char* error;
    bool failed;  // otherwise the state stays HelloProcessed
  };
  const Case cases[] = {
      {"nonce echo",
       [](Exchange& r, const exchange_test::Agent&) {
         r.commit.pop_nonce_echo = r.hello.pop_nonce;
       },
       "nonce mismatch", true},
      {"pop",
       [](Exchange& r, const exchange_test::Agent&) {
         r.commit.pop_signature = *sign_pop(r.initiator.key, r.hello.pop_nonce);
       },
       "pop signature verification failed", false},
      {"tct re-signed",
       [](Exchange& r, const exchange_test::Agent& m) {
         auto claims = verify_tct_jws(r.commit.tct, {.issuer = r.initiator.key.aid(),
                                                     .expected_audience = r.responder.key.aid(),
                                                     .now = kNow});
         r.commit.tct = *encode_tct_jws(m.key, claims->claims());
       },
       "TCT verification failed: signature verification failed", false},
      {"voucher of another tct",
       [](Exchange& r, const exchange_test::Agent&) {
         auto other = issue_peer_tct(r.icontext(), r.ack.identity, r.responder.key.aid(),
                                     r.responder.key.verifying_key(), {"chat", "files:read"});
         r.commit.grant_voucher = other->grant_voucher;
       },
       "TCT verification failed: claims malformed: grant voucher does not mirror the companion TCT",
       false},
      {"no tct", [](Exchange& r, const exchange_test::Agent&) { r.commit.tct = ""; },
       "TCT verification failed: compact JWS malformed: expected exactly three non-empty segments",
       false},
  };
  for (const Case& c : cases) {
    auto r = start();
    r->advance(3);
    const auto good = r->commit;
    c.alter(*r, mallory);
    EXPECT_EQ(message_of(r->answer_commit()), c.error) << c.name;
    EXPECT_STREQ(state_name(r->rstate), c.failed ? "Failed" : "HelloProcessed") << c.name;
    r->commit = good;
    EXPECT_EQ(message_of(r->answer_commit()),
              c.failed ? "handshake state error: on_commit out of order" : "ok")
        << c.name;
  }
  // The sender is checked before the nonce.
  auto r = start();
  r->advance(3);
  auto out = on_commit(r->rstate, mallory.key.aid(), r->commit, r->rcontext());
  EXPECT_EQ(out.error().message(), "invalid envelope: commit sender mismatch");
  EXPECT_STREQ(state_name(r->rstate), "Failed");
}

TEST_F(StateMachine, CommitWithTokensBeyondTheOfferOrShortOfTheRequirement) {
  {  // The initiator grants more than its Manifest offers.
    auto r = start();
    r->advance(3);
    TctIssueParams params = new_tct_issue_params(alice.key);
    params.subject = bob.key.aid();
    params.audience = bob.key.aid();
    params.subject_pubkey = bob.key.verifying_key();
    params.grants = {"chat", "admin"};
    params.iat = kNow;
    auto minted = mint_tct(std::move(params));
    r->commit.tct = minted->tct;
    r->commit.grant_voucher = minted->grant_voucher;
    EXPECT_EQ(message_of(r->answer_commit()),
              "peer-issued TCT grants exceed the issuer's offered_capabilities");
    EXPECT_STREQ(state_name(r->rstate), "HelloProcessed");
  }
  {  // The responder requires a capability the initiator does not offer.
    exchange_test::Agent strict_bob{
        test::ed_key(27),
        "bob",
        {.offered = {"files:read"}, .required = Grants{"files:read", "admin"}}};
    Exchange r{idp, resolver, alice, strict_bob};
    r.advance(3);
    EXPECT_EQ(message_of(r.answer_commit()), "insufficient grants in peer-issued TCT");
    EXPECT_STREQ(state_name(r.rstate), "HelloProcessed");
  }
  {  // The initiator requires a capability the responder does not grant.
    exchange_test::Agent strict_alice{
        test::ed_key(28), "alice", {.offered = {"chat"}, .required = Grants{"files:write"}}};
    Exchange r{idp, resolver, strict_alice, bob};
    r.requested = {"files:read"};
    r.advance(4);
    EXPECT_EQ(message_of(r.complete()), "insufficient grants in peer-issued TCT");
    EXPECT_STREQ(state_name(r.istate), "CommitSent");
  }
  {  // Nothing the initiator asked for is offered: the responder cannot issue.
    auto r = start();
    r->requested = {"admin"};
    r->advance(3);
    EXPECT_EQ(message_of(r->answer_commit()), "policy denies handshake (empty grant intersection)");
    EXPECT_STREQ(state_name(r->rstate), "HelloProcessed");
  }
}

TEST_F(StateMachine, ResponderManifestLifetimeCapsAndEndsIssuing) {
  // Bob's Manifest expires 100 seconds after the handshake's now.
  exchange_test::Agent short_bob{
      test::ed_key(29),
      "bob",
      {.offered = {"files:read"}, .published_at = kNow - 60, .ttl_secs = 160}};
  {
    Exchange r{idp, resolver, alice, short_bob};
    r.advance(5);
    const TctClaims& issued = r.initiator_received->tct.claims();
    EXPECT_EQ(issued.exp - issued.iat, 100);
    EXPECT_EQ(issued.exp, short_bob.manifest.expires_at);
  }
  {  // By the time the commit arrives, Bob's Manifest expires that very second.
    Exchange r{idp, resolver, alice, short_bob};
    r.advance(3);
    r.responder_now = short_bob.manifest.expires_at;
    EXPECT_EQ(message_of(r.answer_commit()),
              "invalid envelope: issuing peer's manifest is expired; cannot issue TCT");
    EXPECT_STREQ(state_name(r.rstate), "HelloProcessed");
    r.responder_now = kNow;
    EXPECT_EQ(message_of(r.answer_commit()), "ok");
  }
}

// Each check of on_commit_ack, with the state it leaves.
TEST_F(StateMachine, CommitAckChecksAndTheStateTheyLeave) {
  struct Case {
    const char* name;
    void (*alter)(Exchange&, const exchange_test::Agent& mallory);
    const char* error;
    bool failed;  // otherwise the state stays CommitSent
  };
  const Case cases[] = {
      {"nonce echo",
       [](Exchange& r, const exchange_test::Agent&) {
         r.commit_ack.pop_nonce_echo = r.ack.pop_nonce;
       },
       "nonce mismatch", true},
      {"pop",
       [](Exchange& r, const exchange_test::Agent&) {
         r.commit_ack.pop_signature = r.commit.pop_signature;
       },
       "pop signature verification failed", false},
      {"tct forged by a third key",
       [](Exchange& r, const exchange_test::Agent& m) {
         TctIssueParams params = new_tct_issue_params(m.key);
         params.subject = r.initiator.key.aid();
         params.audience = r.initiator.key.aid();
         params.subject_pubkey = r.initiator.key.verifying_key();
         params.grants = {"files:read"};
         params.iat = kNow;
         auto minted = mint_tct(std::move(params));
         r.commit_ack.tct = minted->tct;
         r.commit_ack.grant_voucher = minted->grant_voucher;
       },
       "TCT verification failed: signature verification failed", false},
      {"voucher not mirroring",
       [](Exchange& r, const exchange_test::Agent&) {
         GrantVoucherClaims voucher =
             verify_grant_voucher_jws(*r.commit_ack.grant_voucher, r.responder.key.aid())->claims();
         voucher.exp -= 1;
         // Signed with the responder's genuine key: only the mirror check can catch it.
         r.commit_ack.grant_voucher = *encode_grant_voucher_jws(r.responder.key, voucher);
       },
       "TCT verification failed: claims malformed: grant voucher does not mirror the companion TCT",
       false},
  };
  for (const Case& c : cases) {
    auto r = start();
    r->advance(4);
    const auto good = r->commit_ack;
    c.alter(*r, mallory);
    EXPECT_EQ(message_of(r->complete()), c.error) << c.name;
    EXPECT_STREQ(state_name(r->istate), c.failed ? "Failed" : "CommitSent") << c.name;
    r->commit_ack = good;
    EXPECT_EQ(message_of(r->complete()),
              c.failed ? "handshake state error: on_commit_ack out of order" : "ok")
        << c.name;
  }
  auto r = start();
  r->advance(4);
  auto out = on_commit_ack(r->istate, mallory.key.aid(), r->commit_ack, r->icontext());
  EXPECT_EQ(out.error().message(), "invalid envelope: commit_ack sender mismatch");
  EXPECT_STREQ(state_name(r->istate), "Failed");
  // A voucher left out is accepted.
  auto again = start();
  again->advance(4);
  again->commit_ack.grant_voucher.reset();
  ASSERT_EQ(message_of(again->complete()), "ok");
  EXPECT_FALSE(again->initiator_received->grant_voucher.has_value());
}

}  // namespace
}  // namespace zelk
