#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <tuple>

#include "crypto/keys.hpp"
#include "formats/json/error.hpp"
#include "formats/json/record.hpp"
#include "tct/mint.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// A holder's request to renew its TCT: the token it holds, a nonce of its choosing and its
// detached signature over the SHA-256 of the nonce bytes (not of their text).
struct TctRenewalPayload {
  std::string current_tct;  // compact JWS
  std::string pop_nonce;    // unpadded base64url
  std::string pop_signature;
  friend bool operator==(const TctRenewalPayload&, const TctRenewalPayload&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::TctRenewalPayload> {
  using P = zelk::TctRenewalPayload;
  static constexpr std::string_view name = "TctRenewalPayload";
  static constexpr std::tuple members{
      member::required("current_tct", &P::current_tct),
      member::required("pop_nonce", &P::pop_nonce),
      member::required("pop_signature", &P::pop_signature),
  };
};

namespace zelk {

// Strict reading of the whole text: an object with exactly the three string members, or an array
// of the three strings in order. The strings are not examined.
[[nodiscard]] std::expected<TctRenewalPayload, json::JsonError> read_renewal_payload(
    std::string_view text);
// Compact JSON, members in declared order.
std::string write_renewal_payload(const TctRenewalPayload& payload);

// The holder's side: a request for `current_tct` proven with `holder` over `nonce`.
TctRenewalPayload build_renewal_payload(std::string current_tct, ByteView nonce,
                                        const SigningKey& holder);

// The issuer's side. In order: the presented token's claims read without checks (duplicates,
// JSON, undeclared top-level members when typed as a TCT, strict record); the token verified as
// issued by `issuer` (no Manifest bound, no revocation, no clock skew); the proof of possession
// over the nonce with the key of its subject; the lifetime, the smaller of `new_ttl_secs` and
// `manifest_expires_at - now`, which must be positive; then a new TCT and voucher for the same
// subject, audience and grants, issued at `now` with a fresh jti. Nothing is remembered, and
// revocation is not consulted.
[[nodiscard]] std::expected<MintedTct, TctError> renew_tct(const TctRenewalPayload& payload,
                                                           const SigningKey& issuer,
                                                           std::int64_t manifest_expires_at,
                                                           std::int64_t now,
                                                           std::int64_t new_ttl_secs);

}  // namespace zelk
