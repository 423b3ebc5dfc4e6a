#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "crypto/jws.hpp"
#include "crypto/verified.hpp"
#include "tct/claims.hpp"
#include "tct/revocation_check.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// What the caller expects of a TCT; everything is borrowed for the call.
//   TctVerifyOptions options{.issuer = iss, .expected_audience = me, .now = now};
struct TctVerifyOptions {
  const Aid& issuer;             // names the key that must have signed; `iss` must equal it
  const Aid& expected_audience;  // `aud` must equal it (and `sub`)
  std::int64_t now;
  std::optional<std::int64_t> manifest_expires_at{};  // `exp` may not exceed it
  const RevocationCheck* revocation = nullptr;        // consulted last, with `jti`
  std::int64_t clock_skew_secs = 0;                   // widens both ends of the window
};

// A TCT or grant voucher taken apart and read once, for any number of looks before verification.
using ParsedTct = ParsedToken<TctClaims>;
using ParsedGrantVoucher = ParsedToken<GrantVoucherClaims>;

// Claims only the verifiers below produce.
using VerifiedTct = Verified<TctClaims>;
using VerifiedGrantVoucher = Verified<GrantVoucherClaims>;

// Header typ, duplicate and undeclared claims (before any signature work), signature with the
// issuer's key, strict claims, version, issuer, audience, validity (inclusive, saturating skew),
// Manifest bound, grants, cnf, and last revocation.
[[nodiscard]] std::expected<VerifiedTct, TctError> verify_tct_jws(const ParsedTct& token,
                                                                  const TctVerifyOptions& options);
// The same from the text; a token that does not split fails as the signature check would.
[[nodiscard]] std::expected<VerifiedTct, TctError> verify_tct_jws(std::string_view token,
                                                                  const TctVerifyOptions& options);

// The smaller set of checks of a grant voucher: the same pre-check, signature by `issuer`, strict
// claims, version, issuer and non-empty grants. Times, subject and src_jti are left to callers.
[[nodiscard]] std::expected<VerifiedGrantVoucher, TctError> verify_grant_voucher_jws(
    const ParsedGrantVoucher& token, const Aid& issuer);
[[nodiscard]] std::expected<VerifiedGrantVoucher, TctError> verify_grant_voucher_jws(
    std::string_view token, const Aid& issuer);

}  // namespace zelk
