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
#include "formats/json/canonical.hpp"
#include "formats/json/error.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

inline constexpr std::string_view kTctTyp = "zelk-tct+jwt";
inline constexpr std::string_view kGrantVoucherTyp = "zelk-grant+jwt";

// Key binding of a token's subject: the RFC 7638 thumbprint of its public key.
struct Cnf {
  std::string jkt;
  friend bool operator==(const Cnf&, const Cnf&) = default;
};

// The claims of a capability token. `aud` always equals `sub` in tokens that mint or verify.
struct TctClaims {
  std::string ver;
  Uuid jti;
  Aid iss;
  Aid sub;
  Aid aud;
  std::int64_t iat = 0;
  std::int64_t exp = 0;
  std::vector<std::string> grants;
  Cnf cnf;
  std::optional<json::Object> ext;
  friend bool operator==(const TctClaims&, const TctClaims&) = default;
};

// The claims of the grant voucher that accompanies a TCT; `src_jti` names that TCT.
struct GrantVoucherClaims {
  std::string ver;
  Aid iss;
  Aid sub;
  std::vector<std::string> grants;
  std::int64_t iat = 0;
  std::int64_t exp = 0;
  Uuid src_jti;
  std::optional<json::Object> ext;
  friend bool operator==(const GrantVoucherClaims&, const GrantVoucherClaims&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::Cnf> {
  static constexpr std::string_view name = "Cnf";
  static constexpr std::tuple members{
      member::required("jkt", &zelk::Cnf::jkt),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::TctClaims> {
  using T = zelk::TctClaims;
  static constexpr std::string_view name = "TctClaims";
  static constexpr std::tuple members{
      member::required("ver", &T::ver), member::required("jti", &T::jti),
      member::required("iss", &T::iss), member::required("sub", &T::sub),
      member::required("aud", &T::aud), member::required("iat", &T::iat),
      member::required("exp", &T::exp), member::required("grants", &T::grants),
      member::required("cnf", &T::cnf), member::optional("ext", &T::ext),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::GrantVoucherClaims> {
  using T = zelk::GrantVoucherClaims;
  static constexpr std::string_view name = "GrantVoucherClaims";
  static constexpr std::tuple members{
      member::required("ver", &T::ver),         member::required("iss", &T::iss),
      member::required("sub", &T::sub),         member::required("grants", &T::grants),
      member::required("iat", &T::iat),         member::required("exp", &T::exp),
      member::required("src_jti", &T::src_jti), member::optional("ext", &T::ext),
  };
};

namespace zelk {

// The declared member names, for the undeclared-member check that token readers run first.
inline constexpr std::string_view kTctClaimsName = json::RecordTraits<TctClaims>::name;
inline constexpr std::string_view kGrantVoucherClaimsName =
    json::RecordTraits<GrantVoucherClaims>::name;
inline constexpr std::span<const std::string_view> kTctClaimNames =
    json::RecordInfo<TctClaims>::names;
inline constexpr std::span<const std::string_view> kGrantVoucherClaimNames =
    json::RecordInfo<GrantVoucherClaims>::names;

// Strict reading from JSON text (map or array form); messages carry the position suffix.
[[nodiscard]] std::expected<TctClaims, json::JsonError> read_tct_claims(std::string_view text);
[[nodiscard]] std::expected<GrantVoucherClaims, json::JsonError> read_grant_voucher_claims(
    std::string_view text);
// The same rules over an already parsed value; messages carry no position.
[[nodiscard]] std::expected<TctClaims, json::JsonError> tct_claims_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<GrantVoucherClaims, json::JsonError> grant_voucher_claims_from_value(
    const json::Value& value);

// How token verifiers report a failed claims read: UnknownField with the name when the error is
// an unknown member (also one inside cnf), ClaimsMalformed with the whole message otherwise.
[[nodiscard]] TctError tct_claims_read_error(const json::JsonError& error);

// The claims as a value (absent ext left out) and its canonical form, the token payload.
json::Value tct_claims_to_value(const TctClaims& claims);
json::Value grant_voucher_claims_to_value(const GrantVoucherClaims& claims);
[[nodiscard]] std::expected<std::string, json::CanonicalJsonError> canonical_tct_claims(
    const TctClaims& claims);
[[nodiscard]] std::expected<std::string, json::CanonicalJsonError> canonical_grant_voucher_claims(
    const GrantVoucherClaims& claims);

// Signed compact JWS of the claims exactly as given ("zelk-tct+jwt" / "zelk-grant+jwt").
[[nodiscard]] std::expected<std::string, CryptoError> encode_tct_jws(const SigningKey& signer,
                                                                     const TctClaims& claims);
[[nodiscard]] std::expected<std::string, CryptoError> encode_grant_voucher_jws(
    const SigningKey& signer, const GrantVoucherClaims& claims);

}  // namespace zelk
