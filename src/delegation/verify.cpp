#include "delegation/verify.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/envelope.hpp"
#include "crypto/jws.hpp"
#include "crypto/keys.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"
#include "tct/verify.hpp"

namespace zelk {

// Builds the result; the only maker of a VerifiedDelegation.
class DelegationVerifier {
 public:
  static VerifiedDelegation make(std::string_view token, DelegationClaims claims,
                                 GrantVoucherClaims voucher) {
    return VerifiedDelegation(std::string(token), std::move(claims), std::move(voucher));
  }
};

namespace {

using Kind = DelegationError::Kind;

std::unexpected<DelegationError> fail(Kind kind) {
  return std::unexpected(DelegationError::of(kind));
}

std::unexpected<DelegationError> fail(DelegationError error) {
  return std::unexpected(std::move(error));
}

// Every entry of `scope` is, byte for byte, one of `allowed`.
bool within(std::span<const std::string> scope, std::span<const std::string> allowed) {
  return std::ranges::all_of(scope, [&](const std::string& entry) {
    return std::ranges::find(allowed, entry) != allowed.end();
  });
}

DelegationError from_voucher_error(TctError error) {
  switch (error.kind) {
    case TctError::Kind::UnsupportedVersion:
      return DelegationError::of(Kind::UnsupportedVersion);
    case TctError::Kind::UnknownField:
      return DelegationError::unknown_field(std::move(error.detail));
    case TctError::Kind::Crypto:
      return DelegationError::wrap(std::move(error.crypto));
    default:
      return DelegationError::of(Kind::VoucherInvalid);
  }
}

// The signature of a token whose claims were read unverified; those claims are the verified ones
// once it holds, since the signature covers the very payload segment they were read from.
std::expected<void, DelegationError> verify_hop_signature(std::string_view token,
                                                          const DelegationClaims& claims) {
  auto payload = verify_compact_jws(token, claims.iss, kDelegationTyp);
  if (!payload) {
    if (payload.error().kind == CryptoError::Kind::Verification)
      return fail(Kind::SignatureInvalid);
    return fail(DelegationError::wrap(std::move(payload.error())));
  }
  if (claims.ver != kProtocolVersion) return fail(Kind::UnsupportedVersion);
  return {};
}

// What a chain walk keeps of each hop: its issuer and identifier.
struct DelegationHop {
  std::string issuer;
  Uuid jti;
};

std::expected<VerifiedDelegation, DelegationError> verify_single_hop(
    std::string_view token, DelegationClaims unverified, const DelegationVerifyOptions& options) {
  if (auto ok = verify_hop_signature(token, unverified); !ok) return fail(std::move(ok.error()));
  DelegationClaims& h = unverified;
  if (h.aud != options.verifier) return fail(Kind::AudienceMismatch);
  if (h.exp < options.now) return fail(Kind::Expired);
  if (!h.voucher) return fail(Kind::VoucherInvalid);
  auto voucher = verify_hop_voucher(*h.voucher, h.iss, options.verifier, options.now);
  if (!voucher) return fail(std::move(voucher.error()));
  if (h.exp > voucher->exp) return fail(Kind::Expired);
  if (!within(h.scope, voucher->grants)) return fail(Kind::ScopeExceedsGrant);
  if (auto ok = check_delegation_hop(h, options.verifier); !ok) return fail(std::move(ok.error()));
  if (options.revocation != nullptr && *options.revocation &&
      (*options.revocation)(voucher->src_jti))
    return fail(Kind::SourceRevoked);
  return DelegationVerifier::make(token, std::move(h), std::move(*voucher));
}

std::expected<VerifiedDelegation, DelegationError> verify_chain(
    std::string_view token, DelegationClaims outer, const DelegationVerifyOptions& options) {
  const std::vector<std::string>& chain = *outer.chain;
  const std::size_t n = chain.size();
  // n + 2 <= max_hops, written so that neither side can wrap.
  if (options.max_hops < 2 || n > options.max_hops - 2) return fail(Kind::HopLimitExceeded);
  if (!outer.chain_hash) return fail(Kind::ChainHashMismatch);
  auto hash = compute_chain_hash(chain);
  if (!hash) return fail(std::move(hash.error()));
  if (*hash != *outer.chain_hash) return fail(Kind::ChainHashMismatch);

  std::vector<DelegationHop> hops;
  hops.reserve(n + 1);
  std::optional<DelegationClaims> entry;  // the claims of the chain entry being walked
  DelegationClaims previous;
  std::optional<GrantVoucherClaims> root;
  for (std::size_t i = 0; i <= n; ++i) {
    if (i < n) {
      auto hop = verify_delegation_hop_jws(chain[i]);
      if (!hop) return fail(std::move(hop.error()));
      entry = std::move(*hop);
    } else if (auto ok = verify_hop_signature(token, outer); !ok) {
      return fail(std::move(ok.error()));
    }
    const DelegationClaims& h = i < n ? *entry : outer;
    if (auto ok = check_delegation_hop(h, options.verifier); !ok)
      return fail(std::move(ok.error()));
    if (!h.jti ||
        std::ranges::any_of(hops, [&](const DelegationHop& seen) { return seen.jti == *h.jti; }))
      return fail(Kind::VoucherInvalid);
    hops.push_back({h.iss.text(), *h.jti});
    if (h.exp < options.now) return fail(Kind::Expired);
    if (i == 0) {
      if (!h.voucher) return fail(Kind::VoucherInvalid);
      auto voucher = verify_hop_voucher(*h.voucher, h.iss, options.verifier, options.now);
      if (!voucher) return fail(std::move(voucher.error()));
      if (h.exp > voucher->exp) return fail(Kind::Expired);
      if (!within(h.scope, voucher->grants)) return fail(Kind::ScopeExceedsGrant);
      root = std::move(*voucher);
    } else {
      if (h.voucher) return fail(Kind::VoucherInvalid);
      if (h.iss != previous.sub) return fail(Kind::VoucherInvalid);
      if (h.exp > previous.exp) return fail(Kind::Expired);
      if (!within(h.scope, previous.scope)) return fail(Kind::ScopeExceedsGrant);
    }
    if (i < n && h.chain) {
      const std::span<const std::string> before(chain.data(), i);
      if (!std::ranges::equal(*h.chain, before)) return fail(Kind::VoucherInvalid);
      if (!h.chain_hash) return fail(Kind::VoucherInvalid);
      auto inner = compute_chain_hash(*h.chain);
      if (!inner) return fail(std::move(inner.error()));
      if (*inner != *h.chain_hash) return fail(Kind::VoucherInvalid);
    }
    // Only a chain entry can be the previous hop of another.
    if (i < n) previous = std::move(*entry);
  }

  if (options.revocation != nullptr && *options.revocation && (*options.revocation)(root->src_jti))
    return fail(Kind::SourceRevoked);
  if (options.hop_revocation != nullptr && *options.hop_revocation) {
    for (const DelegationHop& hop : hops)
      if ((*options.hop_revocation)(hop.issuer, hop.jti)) return fail(Kind::SourceRevoked);
  }
  return DelegationVerifier::make(token, std::move(outer), std::move(*root));
}

}  // namespace

std::expected<DelegationClaims, DelegationError> decode_delegation_unverified(
    std::string_view token) {
  // A readable typ must be ours; an unreadable one is left to the signature check.
  if (std::optional<std::string> typ = peek_jws_typ(token); typ && *typ != kDelegationTyp)
    return fail(DelegationError::wrap(
        CryptoError::typ_mismatch(std::string(kDelegationTyp), std::move(*typ))));
  auto payload = decode_jws_payload_unverified(token);
  if (!payload) return fail(DelegationError::wrap(std::move(payload.error())));
  const std::string_view text = as_text(*payload);
  if (std::optional<std::string> problem = json::check_duplicate_keys(text))
    return fail(DelegationError::claims_malformed(std::move(*problem)));
  auto claims = decode_delegation_claims(text);
  if (claims) return std::move(*claims);
  // An undeclared top-level member is reported before any other reading error. A strict read
  // that succeeds has none, so only a failed read needs the generic value to look for one.
  if (auto value = json::parse_value(text)) {
    if (auto undeclared =
            json::find_undeclared_member(kDelegationClaimsName, *value, kDelegationClaimNames))
      return fail(DelegationError::unknown_field(std::move(undeclared->name)));
  }
  return fail(delegation_claims_read_error(claims.error()));
}

std::expected<DelegationClaims, DelegationError> verify_delegation_hop_jws(std::string_view token) {
  auto claims = decode_delegation_unverified(token);
  if (!claims) return fail(std::move(claims.error()));
  if (auto ok = verify_hop_signature(token, *claims); !ok) return fail(std::move(ok.error()));
  return std::move(*claims);
}

std::expected<GrantVoucherClaims, DelegationError> verify_hop_voucher(std::string_view voucher,
                                                                      const Aid& delegator,
                                                                      const Aid& verifier,
                                                                      std::int64_t now) {
  auto claims = verify_grant_voucher_jws(voucher, verifier);
  if (!claims) return fail(from_voucher_error(std::move(claims.error())));
  if (claims->sub != delegator) return fail(Kind::VoucherInvalid);
  if (claims->exp < now) return fail(Kind::Expired);
  return std::move(*claims);
}

std::expected<void, DelegationError> check_delegation_hop(const DelegationClaims& claims,
                                                          const Aid& expected_audience) {
  if (claims.aud != expected_audience) return fail(Kind::AudienceMismatch);
  if (claims.iss == claims.sub) return fail(Kind::SelfDelegation);
  if (claims.scope.empty()) return fail(Kind::EmptyScope);
  auto key = verifying_key_from_aid(claims.sub);
  if (!key) return fail(DelegationError::wrap(std::move(key.error())));
  auto jkt = jwk_thumbprint(*key);
  if (!jkt) return fail(DelegationError::wrap(std::move(jkt.error())));
  if (*jkt != claims.cnf.jkt) return fail(Kind::CnfMalformed);
  return {};
}

std::expected<VerifiedDelegation, DelegationError> verify_delegation_token(
    std::string_view token, const DelegationVerifyOptions& options) {
  auto unverified = decode_delegation_unverified(token);
  if (!unverified) return fail(std::move(unverified.error()));
  if (!unverified->chain) {
    if (options.max_hops == 0 && unverified->jti)
      return fail(DelegationError::claims_malformed("jti claim requires multi-hop opt-in"));
    return verify_single_hop(token, std::move(*unverified), options);
  }
  if (options.max_hops == 0) return fail(Kind::MultiHopUnsupported);
  if (unverified->chain->empty()) return verify_single_hop(token, std::move(*unverified), options);
  return verify_chain(token, std::move(*unverified), options);
}

}  // namespace zelk
