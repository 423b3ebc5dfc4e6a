// Verifying a session trust bundle against the signature checks it cannot avoid: one for the
// bundle and one per participant token. The difference is everything else verification does
// (reading the tokens' claims, the signing input, the checks, the result lists).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_util.hpp"
#include "crypto/detached.hpp"
#include "crypto/jws.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "session_bundle/build.hpp"
#include "session_bundle/bundle.hpp"
#include "session_bundle/verify.hpp"
#include "tct/mint.hpp"

namespace {

using zelk::SigningKey;

constexpr std::int64_t kNow = 1'700'000'000;

using zelk::bench::ed_key;
using zelk::bench::require;

// A coordinator and `count` Ed25519 participants, each with a TCT the coordinator minted.
struct Fixture {
  SigningKey coordinator = ed_key(200);
  std::vector<SigningKey> members;
  zelk::SessionTrustBundle bundle;

  explicit Fixture(std::size_t count) {
    std::vector<zelk::ParticipantEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
      members.push_back(ed_key(static_cast<std::uint8_t>(i + 1)));
      zelk::TctIssueParams p = zelk::new_tct_issue_params(coordinator);
      p.subject = members.back().aid();
      p.audience = members.back().aid();
      p.subject_pubkey = members.back().verifying_key();
      p.grants = {"read", "write"};
      p.iat = kNow;
      p.with_voucher = false;
      auto minted = zelk::mint_tct(std::move(p));
      require(minted.has_value(), "mint");
      entries.push_back({members.back().aid(), minted->tct});
    }
    auto text = zelk::build_session_bundle(coordinator, std::nullopt, kNow, entries);
    require(text.has_value(), "build");
    auto read = zelk::decode_session_bundle_envelope(*text);
    require(read.has_value(), "read");
    bundle = std::move(*read);
  }
};

// A verifier that has seen these agents before: their keys are already decoded, as they are for
// the floor below.
void BM_VerifyBundle(benchmark::State& state) {
  const Fixture f(static_cast<std::size_t>(state.range(0)));
  require(zelk::verify_bundle(f.bundle, f.members.front().aid(), kNow).has_value(), "warm-up");
  for (auto _ : state) {
    auto result = zelk::verify_bundle(f.bundle, f.members.front().aid(), kNow);
    require(result.has_value(), "verify");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_VerifyBundle)->Arg(1)->Arg(2)->Arg(50);

// The floor: the bundle's detached signature and each token's signature over its signing input,
// with keys already decoded.
struct Floor {
  zelk::VerifyingKey coordinator;
  std::string signing_input;
  std::string signature;
  struct TokenCheck {
    std::string input;
    zelk::Bytes signature;
  };
  std::vector<TokenCheck> tokens;
};

// Kept out of line so that an instruction counter (valgrind --tool=callgrind
// --toggle-collect='*signature_checks_only*') can set it against zelk::verify_bundle.
[[gnu::noinline]] void signature_checks_only(const Floor& floor) {
  require(zelk::verify_detached(floor.coordinator, std::string_view(floor.signing_input),
                                floor.signature)
              .has_value(),
          "bundle signature");
  for (const Floor::TokenCheck& t : floor.tokens)
    require(zelk::verify_signature_bytes(floor.coordinator, zelk::as_bytes(t.input), t.signature)
                .has_value(),
            "token signature");
}

void BM_SignatureChecksOnly(benchmark::State& state) {
  const Fixture f(static_cast<std::size_t>(state.range(0)));
  Floor floor{
      f.coordinator.verifying_key(), *zelk::bundle_signing_bytes(f.bundle), f.bundle.signature, {}};
  for (const zelk::ParticipantEntry& entry : f.bundle.participants) {
    auto segments = zelk::split_compact_jws(entry.tct);
    require(segments.has_value(), "split");
    const std::size_t input_len = segments->header.size() + 1 + segments->payload.size();
    floor.tokens.push_back(
        {entry.tct.substr(0, input_len), *zelk::b64url_decode(segments->signature)});
  }
  for (auto _ : state) signature_checks_only(floor);
}
BENCHMARK(BM_SignatureChecksOnly)->Arg(1)->Arg(2)->Arg(50);

}  // namespace
