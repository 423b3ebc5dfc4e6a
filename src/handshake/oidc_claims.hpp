#pragma once

// The header and claims of an OIDC identity token. They come from outside identity providers and
// are read leniently: members of other names are skipped whatever their value, while a named
// member given twice, a missing required member or a value of the wrong type is an error.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "formats/json/error.hpp"
#include "formats/json/record.hpp"

namespace zelk {

struct JwtHeader {
  std::string alg;
  std::optional<std::string> kid;  // absent or null: no kid; any other non-string is an error
  friend bool operator==(const JwtHeader&, const JwtHeader&) = default;
};

// One audience text or a list of them (possibly empty).
using Aud = std::variant<std::string, std::vector<std::string>>;

struct OidcCnf {
  std::string jkt;
  friend bool operator==(const OidcCnf&, const OidcCnf&) = default;
};

struct OidcClaims {
  std::string iss;
  std::string sub;
  Aud aud;
  std::int64_t iat = 0;
  std::int64_t exp = 0;
  std::optional<std::string> nonce;
  std::optional<OidcCnf> cnf;
  friend bool operator==(const OidcClaims&, const OidcClaims&) = default;
};

}  // namespace zelk

namespace zelk::handshake_detail {
struct AudName {
  static constexpr std::string_view name = "Aud";
};
}  // namespace zelk::handshake_detail

template <>
struct zelk::json::RecordTraits<zelk::JwtHeader> {
  static constexpr std::string_view name = "JwtHeader";
  static constexpr bool ignore_unknown = true;
  static constexpr std::tuple members{
      member::required("alg", &zelk::JwtHeader::alg),
      member::optional_left_off("kid", &zelk::JwtHeader::kid),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::OidcCnf> {
  static constexpr std::string_view name = "Cnf";
  static constexpr bool ignore_unknown = true;
  static constexpr std::tuple members{member::required("jkt", &zelk::OidcCnf::jkt)};
};

template <>
struct zelk::json::RecordTraits<zelk::OidcClaims> {
  using C = zelk::OidcClaims;
  using AudCodec =
      UntaggedVariant<zelk::handshake_detail::AudName, std::string, std::vector<std::string>>;
  static constexpr std::string_view name = "OidcClaims";
  static constexpr bool ignore_unknown = true;
  static constexpr std::tuple members{
      member::required("iss", &C::iss),
      member::required("sub", &C::sub),
      member::required("aud", &C::aud, via<AudCodec>),
      member::required("iat", &C::iat),
      member::required("exp", &C::exp),
      member::optional_left_off("nonce", &C::nonce),
      member::optional_left_off("cnf", &C::cnf),
  };
};

namespace zelk {

// The whole decoded segment must be one value, with optional whitespace around it; error texts
// end with " at line L column C".
[[nodiscard]] std::expected<JwtHeader, json::JsonError> decode_jwt_header(std::string_view text);
[[nodiscard]] std::expected<OidcClaims, json::JsonError> decode_oidc_claims(std::string_view text);

// True when the one text equals `value` or the list holds a text equal to it.
bool aud_contains(const Aud& aud, std::string_view value);

}  // namespace zelk
