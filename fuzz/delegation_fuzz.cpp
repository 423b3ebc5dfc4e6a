// Delegation token verification over fuzzed claims. The claims are signed by the key of their
// `iss` (one of the fixed keys), and nested tokens are signed as well: a string `voucher` holds
// grant voucher claims that the verifier's key signs, a `chain` holds earlier hops' claims signed
// the same way, and a `chain_hash` of "*" becomes the chain's hash. So every check after the
// signatures is reached. An accepted token satisfies every rule the verifier promises.
#include <algorithm>

#include "crypto/jws.hpp"
#include "delegation/claims.hpp"
#include "delegation/verify.hpp"
#include "formats/json/writer.hpp"
#include "fuzz_support.hpp"
#include "tct/claims.hpp"

namespace {

using namespace zelk;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::string_view kRevokedJti = "00000000-0000-4000-8000-000000000000";
constexpr int kMaxNesting = 4;

const SigningKey& verifier() {
  return fuzz::peer_key();
}

const SigningKey& key_for(const json::Value& claims) {
  if (claims.is_object()) {
    const json::Value* iss = claims.as_object().find("iss");
    if (iss != nullptr && iss->is_string()) return fuzz::key_for_aid(iss->as_string());
  }
  return fuzz::ed25519_key();
}

std::string sign_delegation(std::string_view payload, int depth);

// Replaces nested claims by tokens; returns the payload unchanged when there is nothing to sign.
std::string resign_nested(std::string_view payload, int depth) {
  auto parsed = json::parse_text(payload);
  if (!parsed || !parsed->value.is_object() || depth >= kMaxNesting) return std::string(payload);
  json::Value value = parsed->value;
  json::Object& claims = value.as_object();
  bool changed = false;
  if (json::Value* voucher = claims.find("voucher"); voucher && voucher->is_string()) {
    *voucher = fuzz::sign_token(verifier(), jws_header_text(verifier().suite(), kGrantVoucherTyp),
                                voucher->as_string());
    changed = true;
  }
  std::vector<std::string> chain;
  if (json::Value* entries = claims.find("chain"); entries && entries->is_array()) {
    for (json::Value& entry : entries->as_array()) {
      if (!entry.is_string()) continue;
      entry = sign_delegation(entry.as_string(), depth + 1);
      chain.push_back(entry.as_string());
      changed = true;
    }
  }
  if (json::Value* hash = claims.find("chain_hash");
      hash && hash->is_string() && hash->as_string() == "*") {
    if (auto computed = compute_chain_hash(chain)) *hash = *computed;
    changed = true;
  }
  if (!changed || parsed->repeated_names) return std::string(payload);
  return json::to_compact_string(value);
}

std::string sign_delegation(std::string_view payload, int depth) {
  const std::string claims = resign_nested(payload, depth);
  auto value = json::parse_value(claims);
  const SigningKey& key = value ? key_for(*value) : fuzz::ed25519_key();
  return fuzz::sign_token(key, jws_header_text(key.suite(), kDelegationTyp), claims);
}

void check(const std::string& token, std::uint64_t max_hops) {
  const RevocationCheck revoked = [](const Uuid& jti) { return jti.to_string() == kRevokedJti; };
  const HopRevocationCheck hop_revoked = [](std::string_view, const Uuid& jti) {
    return jti.to_string() == kRevokedJti;
  };
  const Aid& me = verifier().aid();
  const DelegationVerifyOptions options{.verifier = me,
                                        .now = kNow,
                                        .max_hops = max_hops,
                                        .revocation = &revoked,
                                        .hop_revocation = &hop_revoked};
  auto verified = verify_delegation_token(token, options);
  if (!verified) return;
  const DelegationClaims& c = verified->claims();
  const GrantVoucherClaims& v = verified->voucher();
  ZELK_FUZZ_CHECK(verified->token() == token, token);
  auto unverified = decode_delegation_unverified(token);
  ZELK_FUZZ_CHECK(unverified && *unverified == c, token);
  ZELK_FUZZ_CHECK(c.ver == "zelk/0.2", token);
  ZELK_FUZZ_CHECK(c.aud == me && c.iss != c.sub, token);
  ZELK_FUZZ_CHECK(!c.scope.empty() && c.exp >= kNow && c.exp <= v.exp, token);
  ZELK_FUZZ_CHECK(std::ranges::all_of(c.scope,
                                      [&](const std::string& s) {
                                        return std::ranges::find(v.grants, s) != v.grants.end();
                                      }),
                  token);
  ZELK_FUZZ_CHECK(c.cnf.jkt == *aid_thumbprint(c.sub), token);
  ZELK_FUZZ_CHECK(v.iss == me && v.exp >= kNow && v.src_jti.to_string() != kRevokedJti, token);
  const bool chained = c.chain && !c.chain->empty();
  ZELK_FUZZ_CHECK(!chained || max_hops >= c.chain->size() + 2, token);
  if (!chained) {
    ZELK_FUZZ_CHECK(v.sub == c.iss, token);
    ZELK_FUZZ_CHECK(max_hops != 0 || !c.jti, token);
  } else {
    ZELK_FUZZ_CHECK(c.jti && c.jti->to_string() != kRevokedJti && !c.voucher, token);
    ZELK_FUZZ_CHECK(c.chain_hash && *c.chain_hash == *compute_chain_hash(*c.chain), token);
  }
}

}  // namespace

// The first byte chooses the hop limit (0: single hop only); the rest is the claims text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint64_t max_hops = data[0] % 6;
  const std::string_view payload = fuzz::text_of(data + 1, size - 1);
  check(sign_delegation(payload, 0), max_hops);
  // The claims as given, unsigned nested members included, through the claims reader too.
  const SigningKey& key = fuzz::ed25519_key();
  check(fuzz::sign_token(key, jws_header_text(key.suite(), kDelegationTyp), payload), max_hops);
  fuzz::check_preparsed_read<DelegationClaims>(payload);
  return 0;
}
