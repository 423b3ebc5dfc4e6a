#include "delegation/verify.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/invariant.hpp"
#include "core/envelope.hpp"
#include "crypto/keys.hpp"
#include "delegation/precheck.hpp"

template <>
struct zelk::VerifierOf<zelk::DelegationClaims> {
  static VerifiedDelegation make(const ParsedDelegation& token, VerifiedGrantVoucher voucher) {
    return VerifiedDelegation(Verified<DelegationClaims>(token.text(), *token.claims()),
                              std::move(voucher));
  }
};

namespace zelk {
namespace {

using Kind = DelegationError::Kind;

[[nodiscard]] std::unexpected<DelegationError> fail(Kind kind) {
  return std::unexpected(DelegationError::of(kind));
}

[[nodiscard]] std::unexpected<DelegationError> fail(DelegationError error) {
  return std::unexpected(std::move(error));
}

// Every entry of `scope` is, byte for byte, one of `allowed`.
[[nodiscard]] bool within(std::span<const std::string> scope,
                          std::span<const std::string> allowed) {
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

// A readable typ other than ours is refused before anything else, even on a token that does not
// split; an unreadable one is left to the signature check.
[[nodiscard]] std::optional<DelegationError> foreign_typ(std::optional<std::string_view> typ) {
  if (!typ || *typ == kDelegationTyp) return std::nullopt;
  return DelegationError::wrap(
      CryptoError::typ_mismatch(std::string(kDelegationTyp), std::string(*typ)));
}

[[nodiscard]] std::expected<ParsedDelegation, DelegationError> parse_token(std::string_view token) {
  auto jws = ParsedDelegation::parse(token);
  if (jws) return std::move(*jws);
  if (auto refused = foreign_typ(peek_jws_typ(token))) return fail(std::move(*refused));
  return fail(DelegationError::wrap(std::move(jws.error())));
}

// The signature of a token whose claims were read unverified; those claims are the verified ones
// once it holds, since they were read from the very payload the signature covers.
[[nodiscard]] std::expected<void, DelegationError> verify_hop_signature(
    const ParsedDelegation& token) {
  const DelegationClaims& claims = *token.claims();
  if (auto ok = verify_compact_jws(token.jws(), claims.iss, kDelegationTyp); !ok) {
    if (ok.error().kind == CryptoError::Kind::Verification) return fail(Kind::SignatureInvalid);
    return fail(DelegationError::wrap(std::move(ok.error())));
  }
  if (claims.ver != kProtocolVersion) return fail(Kind::UnsupportedVersion);
  return {};
}

// A chain entry: parsed, read and its signature checked.
[[nodiscard]] std::expected<ParsedDelegation, DelegationError> verify_entry(std::string_view text) {
  auto token = parse_token(text);
  if (!token) return fail(std::move(token.error()));
  if (auto ok = check_delegation_unverified(*token); !ok) return fail(std::move(ok.error()));
  if (auto ok = verify_hop_signature(*token); !ok) return fail(std::move(ok.error()));
  return std::move(*token);
}

// The root voucher's source token is revoked; an absent or empty check revokes nothing.
[[nodiscard]] bool root_revoked(const DelegationVerifyOptions& options, const Uuid& src_jti) {
  return options.revocation != nullptr && *options.revocation && (*options.revocation)(src_jti);
}

// The grant voucher a first hop carries: verified, outliving the hop and covering its scope.
[[nodiscard]] std::expected<VerifiedGrantVoucher, DelegationError> first_hop_voucher(
    const DelegationClaims& h, const DelegationVerifyOptions& options) {
  if (!h.voucher) return fail(Kind::VoucherInvalid);
  auto voucher = verify_hop_voucher(*h.voucher, h.iss, options.verifier, options.now);
  if (!voucher) return fail(std::move(voucher.error()));
  if (h.exp > voucher->claims().exp) return fail(Kind::Expired);
  if (!within(h.scope, voucher->claims().grants)) return fail(Kind::ScopeExceedsGrant);
  return voucher;
}

[[nodiscard]] std::expected<VerifiedDelegation, DelegationError> verify_single_hop(
    const ParsedDelegation& token, const DelegationVerifyOptions& options) {
  if (auto ok = verify_hop_signature(token); !ok) return fail(std::move(ok.error()));
  const DelegationClaims& h = *token.claims();
  if (h.aud != options.verifier) return fail(Kind::AudienceMismatch);
  if (h.exp < options.now) return fail(Kind::Expired);
  auto voucher = first_hop_voucher(h, options);
  if (!voucher) return fail(std::move(voucher.error()));
  const GrantVoucherClaims& v = voucher->claims();
  if (auto ok = check_delegation_hop(h, options.verifier); !ok) return fail(std::move(ok.error()));
  if (root_revoked(options, v.src_jti)) return fail(Kind::SourceRevoked);
  return VerifierOf<DelegationClaims>::make(token, std::move(*voucher));
}

// What a chain walk keeps of each hop: its issuer and identifier.
struct DelegationHop {
  std::string issuer;
  Uuid jti;
};

// A chain is walked in delegation order: its entries, then the outer token. Each hop passes the
// same checks as it is reached, so the first refusal along the chain wins; what the walk keeps is
// each hop's issuer and jti (for the revocation checks that run last), the hop the next one links
// to, and the root voucher the first hop carries.
class ChainWalk {
 public:
  ChainWalk(const DelegationVerifyOptions& options, std::size_t hops) : options_(options) {
    hops_.reserve(hops);
  }

  // The checks of one hop on its own, then its link to the hop before it.
  [[nodiscard]] std::expected<void, DelegationError> step(const DelegationClaims& h) {
    if (auto ok = check_delegation_hop(h, options_.verifier); !ok)
      return fail(std::move(ok.error()));
    if (!h.jti ||
        std::ranges::any_of(hops_, [&](const DelegationHop& seen) { return seen.jti == *h.jti; }))
      return fail(Kind::VoucherInvalid);
    hops_.push_back({h.iss.text(), *h.jti});
    if (h.exp < options_.now) return fail(Kind::Expired);
    return link(h);
  }

  // The chain entry just stepped over is the hop the next one links to.
  void link_next_to(ParsedDelegation entry) { previous_ = std::move(entry); }

  // The revocation checks, once every hop has passed.
  [[nodiscard]] std::expected<VerifiedDelegation, DelegationError> finish(
      const ParsedDelegation& token) && {
    if (!root_) invariant_failure("first hop sets the voucher");
    if (root_revoked(options_, root_->claims().src_jti)) return fail(Kind::SourceRevoked);
    if (options_.hop_revocation != nullptr && *options_.hop_revocation) {
      for (const DelegationHop& hop : hops_)
        if ((*options_.hop_revocation)(hop.issuer, hop.jti)) return fail(Kind::SourceRevoked);
    }
    return VerifierOf<DelegationClaims>::make(token, std::move(*root_));
  }

 private:
  // The first hop carries the root voucher; every later one is delegated by the hop before it,
  // without a voucher of its own, no longer lived and within its scope.
  [[nodiscard]] std::expected<void, DelegationError> link(const DelegationClaims& h) {
    if (!previous_) {
      auto voucher = first_hop_voucher(h, options_);
      if (!voucher) return fail(std::move(voucher.error()));
      root_ = std::move(*voucher);
      return {};
    }
    const DelegationClaims& p = *previous_->claims();
    if (h.voucher) return fail(Kind::VoucherInvalid);
    if (h.iss != p.sub) return fail(Kind::VoucherInvalid);
    if (h.exp > p.exp) return fail(Kind::Expired);
    if (!within(h.scope, p.scope)) return fail(Kind::ScopeExceedsGrant);
    return {};
  }

  const DelegationVerifyOptions& options_;
  std::vector<DelegationHop> hops_;
  std::optional<ParsedDelegation> previous_;
  std::optional<VerifiedGrantVoucher> root_;
};

// A chain entry that carries a chain of its own must carry exactly the entries before it, with
// their hash.
[[nodiscard]] std::expected<void, DelegationError> check_entry_chain(
    const DelegationClaims& h, std::span<const std::string> before) {
  if (!h.chain) return {};
  if (!std::ranges::equal(*h.chain, before)) return fail(Kind::VoucherInvalid);
  if (!h.chain_hash) return fail(Kind::VoucherInvalid);
  auto inner = compute_chain_hash(*h.chain);
  if (!inner) return fail(std::move(inner.error()));
  if (*inner != *h.chain_hash) return fail(Kind::VoucherInvalid);
  return {};
}

[[nodiscard]] std::expected<VerifiedDelegation, DelegationError> verify_chain(
    const ParsedDelegation& token, const DelegationVerifyOptions& options) {
  const DelegationClaims& outer = *token.claims();
  const std::span<const std::string> chain = *outer.chain;
  // entries + 2 <= max_hops, written so that neither side can wrap.
  if (options.max_hops < 2 || chain.size() > options.max_hops - 2)
    return fail(Kind::HopLimitExceeded);
  if (!outer.chain_hash) return fail(Kind::ChainHashMismatch);
  auto hash = compute_chain_hash(chain);
  if (!hash) return fail(std::move(hash.error()));
  if (*hash != *outer.chain_hash) return fail(Kind::ChainHashMismatch);

  ChainWalk walk(options, chain.size() + 1);
  for (std::size_t i = 0; i < chain.size(); ++i) {
    auto entry = verify_entry(chain[i]);
    if (!entry) return fail(std::move(entry.error()));
    if (auto ok = walk.step(*entry->claims()); !ok) return fail(std::move(ok.error()));
    if (auto ok = check_entry_chain(*entry->claims(), chain.first(i)); !ok)
      return fail(std::move(ok.error()));
    walk.link_next_to(std::move(*entry));
  }
  if (auto ok = verify_hop_signature(token); !ok) return fail(std::move(ok.error()));
  if (auto ok = walk.step(outer); !ok) return fail(std::move(ok.error()));
  return std::move(walk).finish(token);
}

}  // namespace

std::expected<void, DelegationError> check_delegation_unverified(const ParsedDelegation& token) {
  if (auto refused = foreign_typ(token.jws().typ_hint())) return fail(std::move(*refused));
  return check_token_claims(token);
}

std::expected<DelegationClaims, DelegationError> decode_delegation_unverified(
    std::string_view token) {
  auto parsed = parse_token(token);
  if (!parsed) return fail(std::move(parsed.error()));
  if (auto ok = check_delegation_unverified(*parsed); !ok) return fail(std::move(ok.error()));
  return *parsed->claims();
}

std::expected<DelegationClaims, DelegationError> verify_delegation_hop_jws(std::string_view token) {
  auto verified = verify_entry(token);
  if (!verified) return fail(std::move(verified.error()));
  return *verified->claims();
}

std::expected<VerifiedGrantVoucher, DelegationError> verify_hop_voucher(std::string_view voucher,
                                                                        const Aid& delegator,
                                                                        const Aid& verifier,
                                                                        std::int64_t now) {
  auto verified = verify_grant_voucher_jws(voucher, verifier);
  if (!verified) return fail(from_voucher_error(std::move(verified.error())));
  if (verified->claims().sub != delegator) return fail(Kind::VoucherInvalid);
  if (verified->claims().exp < now) return fail(Kind::Expired);
  return std::move(*verified);
}

std::expected<void, DelegationError> check_delegation_hop(const DelegationClaims& claims,
                                                          const Aid& expected_audience) {
  if (claims.aud != expected_audience) return fail(Kind::AudienceMismatch);
  if (claims.iss == claims.sub) return fail(Kind::SelfDelegation);
  if (claims.scope.empty()) return fail(Kind::EmptyScope);
  auto jkt = aid_thumbprint(claims.sub);
  if (!jkt) return fail(DelegationError::wrap(std::move(jkt.error())));
  if (*jkt != claims.cnf.jkt) return fail(Kind::CnfMalformed);
  return {};
}

std::expected<VerifiedDelegation, DelegationError> verify_delegation_token(
    std::string_view token, const DelegationVerifyOptions& options) {
  auto parsed = parse_token(token);
  if (!parsed) return fail(std::move(parsed.error()));
  if (auto ok = check_delegation_unverified(*parsed); !ok) return fail(std::move(ok.error()));
  const DelegationClaims& claims = *parsed->claims();
  if (!claims.chain) {
    if (options.max_hops == 0 && claims.jti)
      return fail(DelegationError::claims_malformed("jti claim requires multi-hop opt-in"));
    return verify_single_hop(*parsed, options);
  }
  if (options.max_hops == 0) return fail(Kind::MultiHopUnsupported);
  if (claims.chain->empty()) return verify_single_hop(*parsed, options);
  return verify_chain(*parsed, options);
}

}  // namespace zelk
