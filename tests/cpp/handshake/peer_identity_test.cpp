#include "handshake/peer_identity.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/jwk.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

using test::json_str;
const std::string kIdentity = "identity verification failed: ";
const std::string kIssuer(test::kIssuer);
constexpr std::string_view kPeerNonce = "AAECAwQFBgcICQoLDA0ODw";

class OneIssuer : public JwksResolver {
 public:
  std::vector<Jwk> keys;
  mutable int calls = 0;
  std::expected<std::vector<Jwk>, JwksResolverError> resolve(const url::Url&) const override {
    ++calls;
    return keys;
  }
};

class ListedKeys : public TrustStore {
 public:
  std::vector<Bytes> trusted;
  bool is_trusted(std::span<const std::uint8_t, 32> key) const override {
    for (const Bytes& t : trusted)
      if (std::equal(t.begin(), t.end(), key.begin(), key.end())) return true;
    return false;
  }
};

class PeerIdentity : public ::testing::Test {
 protected:
  SigningKey own_key = test::ed_key(1);
  SigningKey peer_key = test::ed_key(2);
  SigningKey idp = test::ed_key(9);
  Manifest own = test::manifest_for(own_key, "me");
  Manifest peer = test::manifest_for(peer_key, "agent-2");
  std::vector<std::string> anchors{kIssuer};
  OneIssuer resolver;
  const TrustStore* store = nullptr;
  std::int64_t now = test::kNow;

  void SetUp() override { resolver.keys = {test::public_jwk(idp, "k")}; }

  ZelkEnvelope envelope_from(const Aid& sender) const {
    ZelkEnvelope e;
    e.version = "zelk/0.2";
    e.message_type = MessageType::MutualHello;
    e.message_id = *parse_uuid("0f8fad5b-d9cb-469f-a165-70867728950e");
    e.timestamp = test::kNow - 5;
    e.sender.agent_id = sender;
    e.signature = "not checked";
    return e;
  }

  IdentityDescriptor pinned_descriptor(const ZelkEnvelope& e) const {
    const ProofBinding b{.prover_aid = peer_key.aid(),
                         .verifier_aid = own.aid,
                         .message_id = e.message_id,
                         .timestamp = e.timestamp,
                         .nonce = kPeerNonce};
    return *build_identity_proof(PinnedKeyIdentity{"agent-2"}, b, peer_key);
  }

  std::string oidc_token(const SigningKey& subject) const {
    test::ClaimsText c;
    c.set("iss", json_str(kIssuer))
        .set("sub", json_str("alice"))
        .set("aud", json_str(own.aid.text()))
        .set("iat", std::to_string(test::kNow))
        .set("exp", std::to_string(test::kNow + 600))
        .set("nonce", json_str(kPeerNonce))
        .set("cnf", "{\"jkt\":" + json_str(*jwk_thumbprint(subject.verifying_key())) + "}");
    return test::forge(idp, R"({"alg":"EdDSA","kid":"k"})", c.text());
  }

  std::expected<VerifyingKey, HandshakeError> verify(const ZelkEnvelope& e, const Manifest& m,
                                                     const IdentityDescriptor& d) const {
    const PeerIdentityContext context{.own_manifest = own,
                                      .trust_anchors = anchors,
                                      .resolver = resolver,
                                      .trust_store = store,
                                      .now = now};
    return verify_peer_identity(e, m, d, kPeerNonce, context);
  }
  std::string error_of(const ZelkEnvelope& e, const Manifest& m,
                       const IdentityDescriptor& d) const {
    auto r = verify(e, m, d);
    return r ? "(verified)" : r.error().message();
  }
};

TEST_F(PeerIdentity, PinnedKeyPeerGivesItsKey) {
  const ZelkEnvelope e = envelope_from(peer.aid);
  auto key = verify(e, peer, pinned_descriptor(e));
  ASSERT_TRUE(key.has_value()) << key.error().message();
  EXPECT_EQ(*key, peer_key.verifying_key());
  EXPECT_EQ(resolver.calls, 0);
}

TEST_F(PeerIdentity, ChecksInOrder) {
  const ZelkEnvelope e = envelope_from(peer.aid);
  const IdentityDescriptor good = pinned_descriptor(e);
  IdentityDescriptor bad_proof = good;
  bad_proof.proof = "x";
  IdentityDescriptor other_subject = bad_proof;
  other_subject.subject = "agent-3";
  other_subject.type = IdentityType::Oidc;
  IdentityDescriptor other_type = bad_proof;
  other_type.type = IdentityType::Oidc;

  EXPECT_EQ(error_of(envelope_from(own.aid), peer, bad_proof),
            "invalid envelope: manifest.aid does not match sender.agent_id");
  now = peer.expires_at + 1;
  EXPECT_EQ(error_of(e, peer, other_subject), "manifest verification failed: manifest has expired");
  now = test::kNow;
  EXPECT_EQ(error_of(e, peer, other_subject),
            kIdentity + "identity.subject != manifest.identity_hint.subject");
  EXPECT_EQ(error_of(e, peer, other_type),
            kIdentity + "identity.type does not match manifest.identity_hint.type");
  EXPECT_EQ(error_of(e, peer, bad_proof), kIdentity + "proof malformed");

  // The proof is bound to the envelope's message id and timestamp.
  ZelkEnvelope later = e;
  later.timestamp += 1;
  EXPECT_EQ(error_of(later, peer, good), kIdentity + "pinned_key signature invalid");
}

TEST_F(PeerIdentity, TrustStoreOnlyWhenGiven) {
  const ZelkEnvelope e = envelope_from(peer.aid);
  ListedKeys listed;
  listed.trusted = {Bytes(own_key.public_key().begin(), own_key.public_key().end())};
  store = &listed;
  EXPECT_EQ(error_of(e, peer, pinned_descriptor(e)),
            kIdentity + "pinned_key not in local trust store");
  listed.trusted.emplace_back(peer_key.public_key().begin(), peer_key.public_key().end());
  EXPECT_EQ(error_of(e, peer, pinned_descriptor(e)), "(verified)");
}

TEST_F(PeerIdentity, OidcPeer) {
  const SigningKey p256_peer = test::p256_key(6);
  const Manifest oidc_peer = test::manifest_for(p256_peer, "alice", kIssuer);
  const ZelkEnvelope e = envelope_from(oidc_peer.aid);
  const IdentityDescriptor d{IdentityType::Oidc,    kIssuer,      "alice",
                             oidc_token(p256_peer), std::nullopt, std::nullopt};
  auto key = verify(e, oidc_peer, d);
  ASSERT_TRUE(key.has_value()) << key.error().message();
  EXPECT_EQ(*key, p256_peer.verifying_key());
  EXPECT_EQ(resolver.calls, 1);

  // The token's cnf must name this peer's key.
  const IdentityDescriptor other_cnf{IdentityType::Oidc,   kIssuer,      "alice",
                                     oidc_token(peer_key), std::nullopt, std::nullopt};
  EXPECT_EQ(error_of(e, oidc_peer, other_cnf), kIdentity + "cnf.jkt mismatch");

  IdentityDescriptor no_issuer = d;
  no_issuer.issuer.reset();
  EXPECT_EQ(error_of(e, oidc_peer, no_issuer), kIdentity + "oidc missing issuer");
  IdentityDescriptor other_issuer = d;
  other_issuer.issuer = "https://idp.example";
  EXPECT_EQ(error_of(e, oidc_peer, other_issuer), kIdentity + "issuer hint mismatch");
  anchors.clear();
  EXPECT_EQ(error_of(e, oidc_peer, d), "incompatible trust anchors");
}

}  // namespace
}  // namespace zelk
