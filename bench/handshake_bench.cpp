// A complete four-message handshake between two Ed25519 pinned-key agents in one process, against
// the raw libsodium cost of the signature operations it performs.
//
// The steps alone sign 8 times and verify 12 times:
//   hello        initiator signs its identity proof                                  1 sign
//   hello_ack    responder verifies the initiator's Manifest signature, its proof
//                of possession and the identity proof, then signs its own proof      3 verify 1
//                sign
//   commit       initiator does the same three checks on the responder, then signs
//                the TCT, its voucher and the proof of possession over the nonce     3 verify 3
//                sign
//   commit_ack   responder verifies the proof of possession, the TCT and the
//                voucher, then signs its own TCT, voucher and proof of possession    3 verify 3
//                sign
//   complete     initiator verifies the proof of possession, the TCT and voucher     3 verify
// Over the wire each of the four messages is also signed as an envelope: 12 signs, 12 verifies.
// The TCT and voucher signatures cover their JWS signing input; the others cover 32-byte digests.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.hpp"
#include "crypto/envelope_signing.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/url/url.hpp"
#include "handshake/payloads.hpp"
#include "handshake/state_machine.hpp"
#include "handshake/token_exchange.hpp"
#include "manifest/builder.hpp"

namespace {

using namespace zelk;

constexpr std::int64_t kNow = 1'700'000'000;

using zelk::bench::require;

class NoResolver : public JwksResolver {
 public:
  std::expected<std::vector<Jwk>, JwksResolverError> resolve(const url::Url&) const override {
    return std::unexpected(JwksResolverError::unavailable("pinned-key only"));
  }
};

struct Agent {
  SigningKey key;
  Manifest manifest;
  std::vector<std::string> anchors;

  explicit Agent(std::uint8_t byte, std::string subject) : key(bench::ed_key(byte)) {
    ManifestBuilder b(key);
    b.set_handshake_endpoint(*url::parse_url("https://agent.example/zelk"))
        .set_identity_hint({IdentityType::PinnedKey, std::move(subject), std::nullopt,
                            b64url_encode(key.public_key())})
        .add_offered_capability("files:read")
        .add_offered_capability("files:write")
        .add_required_peer_capability("files:read")
        .set_published_at(kNow - 60);
    auto built = build_signed_manifest(std::move(b));
    require(built.has_value(), "manifest");
    manifest = std::move(*built);
  }
  HandshakeContext context(const JwksResolver& resolver) const {
    return {.signing_key = key,
            .own_manifest = manifest,
            .trust_anchors = anchors,
            .resolver = resolver,
            .now = kNow};
  }
};

struct Pair {
  NoResolver resolver;
  Agent initiator{1, "alice"};
  Agent responder{2, "bob"};
};

Uuid uuid_of(std::uint8_t byte) {
  Uuid out;
  out.bytes.fill(byte);
  return out;
}

ZelkEnvelope bare_envelope(const Aid& sender, const Uuid& id) {
  return {.version = "zelk/0.2",
          .message_type = MessageType::MutualHello,
          .message_id = id,
          .timestamp = kNow,
          .sender = Sender{sender},
          .payload = {},
          .extensions = std::nullopt,
          .signature = {}};
}

// The steps on records, as the two sessions run them.
void handshake_steps(const Pair& p) {
  const std::vector<std::string> grants{"files:read", "files:write"};
  const HandshakeContext ic = p.initiator.context(p.resolver);
  const HandshakeContext rc = p.responder.context(p.resolver);
  InitiatorState istate;
  ResponderState rstate;
  auto hello = begin_hello(istate, PinnedKeyIdentity{"alice"}, p.responder.manifest.aid, uuid_of(1),
                           kNow, grants, p.initiator.key, p.initiator.manifest);
  require(hello.has_value(), "hello");
  auto answer =
      on_hello(bare_envelope(p.initiator.key.aid(), uuid_of(1)), *hello, PinnedKeyIdentity{"bob"},
               uuid_of(2), kNow, hello->manifest.offered_capabilities, rc);
  require(answer.has_value(), "hello_ack");
  rstate = std::move(answer->state);
  auto commit =
      on_hello_ack(istate, bare_envelope(p.responder.key.aid(), uuid_of(2)), answer->payload, ic);
  require(commit.has_value(), "commit");
  auto ack = on_commit(rstate, p.initiator.key.aid(), *commit, rc);
  require(ack.has_value(), "commit_ack");
  MutualCommitAckPayload ack_payload = std::move(ack->payload);
  auto done = on_commit_ack(istate, p.responder.key.aid(), ack_payload, ic);
  require(done.has_value(), "complete");
  benchmark::DoNotOptimize(done);
}

// The same with every payload written into a signed envelope, sent as text and read back.
void handshake_over_the_wire(const Pair& p) {
  const std::vector<std::string> grants{"files:read", "files:write"};
  const HandshakeContext ic = p.initiator.context(p.resolver);
  const HandshakeContext rc = p.responder.context(p.resolver);
  InitiatorState istate;
  ResponderState rstate;
  auto send = [](const SigningKey& key, MessageType type, json::Value payload, std::uint8_t id) {
    auto env = sign_envelope(key, type, std::move(payload), uuid_of(id), kNow);
    require(env.has_value(), "envelope");
    auto received = decode_envelope(encode_envelope(*env));
    require(received.has_value(), "envelope text");
    return std::move(*received);
  };

  auto hello = begin_hello(istate, PinnedKeyIdentity{"alice"}, p.responder.manifest.aid, uuid_of(1),
                           kNow, grants, p.initiator.key, p.initiator.manifest);
  require(hello.has_value(), "hello");
  const ZelkEnvelope hello_env =
      send(p.initiator.key, MessageType::MutualHello, mutual_hello_to_value(*hello), 1);
  auto hello_in = mutual_hello_from_value(hello_env.payload);
  require(hello_in.has_value(), "hello payload");

  auto answer = on_hello(hello_env, *hello_in, PinnedKeyIdentity{"bob"}, uuid_of(2), kNow,
                         hello_in->manifest.offered_capabilities, rc);
  require(answer.has_value(), "hello_ack");
  rstate = std::move(answer->state);
  const ZelkEnvelope ack_env = send(p.responder.key, MessageType::MutualHelloAck,
                                    mutual_hello_ack_to_value(answer->payload), 2);
  auto ack_in = mutual_hello_ack_from_value(ack_env.payload);
  require(ack_in.has_value(), "hello_ack payload");

  auto commit = on_hello_ack(istate, ack_env, *ack_in, ic);
  require(commit.has_value(), "commit");
  const ZelkEnvelope commit_env =
      send(p.initiator.key, MessageType::MutualCommit, mutual_commit_to_value(*commit), 3);
  auto commit_in = mutual_commit_from_value(commit_env.payload);
  require(commit_in.has_value(), "commit payload");

  auto ack = on_commit(rstate, commit_env.sender.agent_id, *commit_in, rc);
  require(ack.has_value(), "commit_ack");
  const ZelkEnvelope done_env = send(p.responder.key, MessageType::MutualCommitAck,
                                     mutual_commit_ack_to_value(ack->payload), 4);
  auto done_in = mutual_commit_ack_from_value(done_env.payload);
  require(done_in.has_value(), "commit_ack payload");

  auto done = on_commit_ack(istate, done_env.sender.agent_id, *done_in, ic);
  require(done.has_value(), "complete");
  benchmark::DoNotOptimize(done);
}

void BM_HandshakeEd25519PinnedSteps(benchmark::State& state) {
  const Pair p;
  for (auto _ : state) handshake_steps(p);
  state.counters["signs"] = 8;
  state.counters["verifies"] = 12;
}
BENCHMARK(BM_HandshakeEd25519PinnedSteps)->Unit(benchmark::kMicrosecond);

void BM_HandshakeEd25519PinnedOverTheWire(benchmark::State& state) {
  const Pair p;
  for (auto _ : state) handshake_over_the_wire(p);
  state.counters["signs"] = 12;
  state.counters["verifies"] = 12;
}
BENCHMARK(BM_HandshakeEd25519PinnedOverTheWire)->Unit(benchmark::kMicrosecond);

// The raw libsodium work: `digest_signs` signatures over 32 bytes and 4 over a TCT-sized signing
// input, 8 verifications over 32 bytes and 4 over the TCT-sized input.
void raw_signature_ops(benchmark::State& state, int digest_signs) {
  require(sodium_init() >= 0, "sodium_init");
  const Pair p;
  // A real TCT's signing input, for the JWS-sized messages.
  auto minted =
      issue_peer_tct(p.initiator.context(p.resolver), IdentityDescriptor{}, p.responder.key.aid(),
                     p.responder.key.verifying_key(), {"files:read", "files:write"});
  require(minted.has_value(), "tct");
  const std::string jws_input = minted->tct.substr(0, minted->tct.rfind('.'));
  const std::array<std::uint8_t, 32> digest{7};
  std::array<std::uint8_t, 64> secret{};
  std::array<std::uint8_t, 32> pk{};
  std::array<std::uint8_t, 32> seed{};
  seed.fill(1);
  crypto_sign_seed_keypair(pk.data(), secret.data(), seed.data());
  std::array<std::uint8_t, 64> sig_digest{};
  std::array<std::uint8_t, 64> sig_jws{};
  crypto_sign_detached(sig_digest.data(), nullptr, digest.data(), digest.size(), secret.data());
  const auto* jws = reinterpret_cast<const unsigned char*>(jws_input.data());
  crypto_sign_detached(sig_jws.data(), nullptr, jws, jws_input.size(), secret.data());

  for (auto _ : state) {
    int r = 0;
    for (int i = 0; i < digest_signs; ++i)
      r |= crypto_sign_detached(sig_digest.data(), nullptr, digest.data(), digest.size(),
                                secret.data());
    for (int i = 0; i < 4; ++i)
      r |= crypto_sign_detached(sig_jws.data(), nullptr, jws, jws_input.size(), secret.data());
    for (int i = 0; i < 8; ++i)
      r |= crypto_sign_verify_detached(sig_digest.data(), digest.data(), digest.size(), pk.data());
    for (int i = 0; i < 4; ++i)
      r |= crypto_sign_verify_detached(sig_jws.data(), jws, jws_input.size(), pk.data());
    benchmark::DoNotOptimize(r);
  }
}

void BM_HandshakeEd25519RawSignatureOps(benchmark::State& state) {
  raw_signature_ops(state, 4);  // identity proofs and proofs of possession
  state.counters["signs"] = 8;
  state.counters["verifies"] = 12;
}
BENCHMARK(BM_HandshakeEd25519RawSignatureOps)->Unit(benchmark::kMicrosecond);

void BM_HandshakeEd25519RawSignatureOpsWithEnvelopes(benchmark::State& state) {
  raw_signature_ops(state, 8);  // and the four envelope signatures
  state.counters["signs"] = 12;
  state.counters["verifies"] = 12;
}
BENCHMARK(BM_HandshakeEd25519RawSignatureOpsWithEnvelopes)->Unit(benchmark::kMicrosecond);

}  // namespace
