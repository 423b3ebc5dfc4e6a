// Multi-hop delegation verification of a one-entry chain against the three raw signature checks
// it carries (voucher, chain entry, outer token), over identical tokens.
#include <benchmark/benchmark.h>
#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.hpp"
#include "delegation/claims.hpp"
#include "delegation/verify.hpp"
#include "formats/base64url.hpp"
#include "tct/claims.hpp"

namespace {

using zelk::SigningKey;

constexpr std::int64_t kNow = 1'700'000'000;

using zelk::bench::ed_key;
using zelk::bench::require;

struct Chain {
  SigningKey grantor = ed_key(1), alice = ed_key(2), bob = ed_key(3), carol = ed_key(4);
  std::string voucher, entry, outer;

  zelk::DelegationClaims hop(const SigningKey& from, const SigningKey& to, std::uint8_t jti) {
    zelk::DelegationClaims c;
    c.ver = "zelk/0.2";
    c.iss = from.aid();
    c.sub = to.aid();
    c.aud = grantor.aid();
    c.scope = {"tools:search", "memory:read"};
    c.exp = kNow + 300;
    c.cnf.jkt = *zelk::jwk_thumbprint(to.verifying_key());
    c.jti = zelk::Uuid{};
    c.jti->bytes.fill(jti);
    return c;
  }

  Chain() {
    zelk::GrantVoucherClaims v{.ver = "zelk/0.2",
                               .iss = grantor.aid(),
                               .sub = alice.aid(),
                               .grants = {"tools:search", "tools:fetch", "memory:read"},
                               .iat = kNow - 60,
                               .exp = kNow + 600,
                               .src_jti = {},
                               .ext = std::nullopt};
    voucher = *zelk::encode_grant_voucher_jws(grantor, v);
    zelk::DelegationClaims first = hop(alice, bob, 1);
    first.voucher = voucher;
    entry = *zelk::build_delegation_token(alice, first);
    zelk::DelegationClaims second = hop(bob, carol, 2);
    second.chain = std::vector<std::string>{entry};
    second.chain_hash = *zelk::compute_chain_hash(*second.chain);
    outer = *zelk::build_delegation_token(bob, second);
  }
};

void BM_VerifyDelegationChainOfOne(benchmark::State& state) {
  const Chain chain;
  const zelk::DelegationVerifyOptions options{
      .verifier = chain.grantor.aid(), .now = kNow, .max_hops = 3};
  require(zelk::verify_delegation_token(chain.outer, options).has_value(), "chain verifies");
  for (auto _ : state) {
    auto verified = zelk::verify_delegation_token(chain.outer, options);
    benchmark::DoNotOptimize(verified);
  }
}
BENCHMARK(BM_VerifyDelegationChainOfOne);

// What a signature check of a token costs at the least: libsodium over its signing input.
struct RawCheck {
  std::string input;
  zelk::Bytes signature;
  zelk::ByteView key;
  RawCheck(const std::string& token, const SigningKey& signer)
      : input(token.substr(0, token.rfind('.'))),
        signature(*zelk::b64url_decode(token.substr(token.rfind('.') + 1))),
        key(signer.public_key()) {}
  int operator()() const {
    return crypto_sign_verify_detached(signature.data(),
                                       reinterpret_cast<const unsigned char*>(input.data()),
                                       input.size(), key.data());
  }
};

void BM_ThreeRawSodiumChecks(benchmark::State& state) {
  require(sodium_init() >= 0, "sodium_init");
  const Chain chain;
  const RawCheck checks[] = {
      {chain.voucher, chain.grantor}, {chain.entry, chain.alice}, {chain.outer, chain.bob}};
  for (const RawCheck& check : checks) require(check() == 0, "raw check");
  for (auto _ : state) {
    for (const RawCheck& check : checks) {
      int r = check();
      benchmark::DoNotOptimize(r);
    }
  }
}
BENCHMARK(BM_ThreeRawSodiumChecks);

}  // namespace
