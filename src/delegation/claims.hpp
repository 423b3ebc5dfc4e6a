#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/aid.hpp"
#include "core/aid_json.hpp"
#include "crypto/crypto_error.hpp"
#include "crypto/keys.hpp"
#include "delegation/delegation_error.hpp"
#include "formats/json/error.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"
#include "tct/claims.hpp"

namespace zelk {

inline constexpr std::string_view kDelegationTyp = "zelk-delegation+jwt";

// The claims of a delegation token. A first hop carries the grant voucher that authorises it; a
// token that extends a chain carries the earlier hops' tokens and their hash instead.
struct DelegationClaims {
  std::string ver;
  Aid iss;  // the delegator, whose key signs the token
  Aid sub;  // the delegatee
  Aid aud;  // the agent that verifies the token: the voucher's issuer
  std::vector<std::string> scope;
  std::int64_t exp = 0;
  Cnf cnf;  // thumbprint of the key of `sub`
  std::optional<std::string> voucher{};
  std::optional<Uuid> jti{};
  std::optional<std::vector<std::string>> chain{};  // earlier hops, first hop first
  std::optional<std::string> chain_hash{};
  std::optional<json::Object> ext{};
  friend bool operator==(const DelegationClaims&, const DelegationClaims&) = default;
};

}  // namespace zelk

// The array form may end after `cnf`: the trailing optional members are then absent.
template <>
struct zelk::json::RecordTraits<zelk::DelegationClaims> {
  using T = zelk::DelegationClaims;
  static constexpr std::string_view name = "DelegationClaims";
  static constexpr std::tuple members{
      member::required("ver", &T::ver),
      member::required("iss", &T::iss),
      member::required("sub", &T::sub),
      member::required("aud", &T::aud),
      member::required("scope", &T::scope),
      member::required("exp", &T::exp),
      member::required("cnf", &T::cnf),
      member::optional_left_off("voucher", &T::voucher),
      member::optional_left_off("jti", &T::jti),
      member::optional_left_off("chain", &T::chain),
      member::optional_left_off("chain_hash", &T::chain_hash),
      member::optional_left_off("ext", &T::ext),
  };
};

namespace zelk {

// Strict reading from JSON text (map or array form); messages carry the position suffix.
[[nodiscard]] std::expected<DelegationClaims, json::JsonError> decode_delegation_claims(
    std::string_view text);

// The claims as a value with absent optional members left out; its canonical form is the payload.
json::Value delegation_claims_to_value(const DelegationClaims& claims);

// The signed compact JWS ("zelk-delegation+jwt") of the claims exactly as given; nothing in them
// is checked here, the verifier enforces the content rules.
[[nodiscard]] std::expected<std::string, CryptoError> build_delegation_token(
    const SigningKey& signer, const DelegationClaims& claims);

// The claims of a grant voucher as its holder reads them: no signature or expiry check (the
// grantor checks both when the delegation comes back), but the same strict reading as a
// verifier's.
[[nodiscard]] std::expected<GrantVoucherClaims, DelegationError> read_held_voucher(
    std::string_view token);

// A single-hop delegation token from `signer` to `delegatee` under the voucher the signer holds:
// the voucher is read (not verified) and must name the signer as its subject; the scope must be
// non-empty and within its grants; the token expires at now + ttl (saturating) or with the
// voucher, whichever is sooner. No jti, chain or chain_hash.
[[nodiscard]] std::expected<std::string, DelegationError> build_single_hop_delegation(
    const SigningKey& signer, std::string_view voucher_token, const Aid& delegatee,
    std::span<const std::string> scope, std::int64_t ttl_secs, std::int64_t now);

// The hash that binds a chain: SHA-256 over the canonical JSON array of the base64url SHA-256 of
// each token text, in chain order; 43 base64url characters.
[[nodiscard]] std::expected<std::string, DelegationError> compute_chain_hash(
    std::span<const std::string> tokens);

}  // namespace zelk
