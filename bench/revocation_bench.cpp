// Verifying a revocation snapshot should cost little more than its two unavoidable parts: reading
// the envelope and one signature check. Signing bytes must grow linearly with the list.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_util.hpp"
#include "crypto/detached.hpp"
#include "crypto/keys.hpp"
#include "revocation/revocation_list.hpp"
#include "revocation/signing_input.hpp"
#include "revocation/snapshot.hpp"

namespace {

using zelk::SigningKey;

using zelk::bench::require;

const SigningKey& key() {
  static const SigningKey k = zelk::bench::ed_key(7);
  return k;
}

// The carried form of a signed list of `n` entries, each with a reason.
std::string signed_list(std::size_t n) {
  zelk::RevocationList list;
  list.version = "zelk/0.2";
  list.issuer = key().aid();
  list.published_at = 1'700'000'000;
  list.expires_at = 1'700'003'600;
  for (std::size_t i = 0; i < n; ++i) {
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t b = 0; b < 8; ++b) bytes[8 + b] = static_cast<std::uint8_t>(i >> (8 * b));
    bytes[6] = 0x40;
    bytes[8] |= 0x80;
    list.entries.push_back({zelk::Uuid{bytes}, 1'699'999'000 + static_cast<std::int64_t>(i),
                            std::string("credential rotated")});
  }
  auto env = zelk::sign_revocation_snapshot(std::move(list), key());
  require(env.has_value(), "sign");
  return zelk::encode_revocation_envelope(*env);
}

void BM_RevocationRead(benchmark::State& state) {
  const std::string text = signed_list(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto env = zelk::decode_revocation_envelope(text);
    benchmark::DoNotOptimize(env);
  }
}
BENCHMARK(BM_RevocationRead)->Arg(1000);

// One signature check of the same list: the digest of its signed bytes and the key operation.
void BM_RevocationSignatureCheck(benchmark::State& state) {
  const std::string text = signed_list(static_cast<std::size_t>(state.range(0)));
  const auto env = zelk::decode_revocation_envelope(text);
  require(env.has_value(), "read");
  const std::string input = *zelk::revocation_list_jcs(env->revocation_list);
  const zelk::VerifyingKey vk = *zelk::verifying_key_from_aid(key().aid());
  for (auto _ : state) {
    auto ok = zelk::verify_detached(vk, input, env->signature);
    require(ok.has_value(), "signature");
  }
}
BENCHMARK(BM_RevocationSignatureCheck)->Arg(1000);

// What verify_revocation_list does below the Python boundary.
void BM_RevocationReadAndVerify(benchmark::State& state) {
  const std::string text = signed_list(static_cast<std::size_t>(state.range(0)));
  const std::string issuer = key().aid_text();
  for (auto _ : state) {
    auto env = zelk::decode_revocation_envelope(text);
    require(env.has_value(), "read");
    auto ok = zelk::verify_revocation_snapshot(*env, issuer, 1'700'000'000);
    require(ok.has_value(), "verify");
  }
}
BENCHMARK(BM_RevocationReadAndVerify)->Arg(1000);

// Signing bytes from the carried text, at about 1 MiB and 4 MiB of envelope.
void BM_RevocationSigningBytes(benchmark::State& state) {
  const std::string text = signed_list(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto env = zelk::decode_revocation_envelope(text);
    auto bytes = zelk::revocation_list_jcs(env->revocation_list);
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["envelope_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_RevocationSigningBytes)->Arg(11'000)->Arg(44'000);

}  // namespace
