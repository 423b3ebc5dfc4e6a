#pragma once

#include <cstdint>
#include <string>

#include "crypto/crypto_error.hpp"

namespace zelk {

// Why a TCT or grant voucher operation failed. The kind numbers are stable: the Python layer maps
// them to the failure codes of revocation-list verification.
struct TctError {
  enum class Kind : std::uint8_t {
    UnsupportedVersion = 0,
    SignatureInvalid = 1,
    IssuerMismatch = 2,
    AudienceMismatch = 3,
    OutsideValidity = 4,
    ExceedsManifest = 5,
    JtiRevoked = 6,
    EmptyGrants = 7,
    WhitespaceInGrant = 8,  // detail: the offending grant
    CnfMismatch = 9,
    ClaimsMalformed = 10,   // detail: the reason
    UnknownField = 11,      // detail: the member name
    MissingField = 12,      // detail: the parameter name
    Canonicalization = 13,  // detail: the reason
    PopNonceEchoMismatch = 14,
    PopSignatureFailed = 15,
    PopChallengeExpired = 16,
    PopResponseJtiMismatch = 17,
    Crypto = 18,  // crypto: the wrapped error, shown by its own message
  };
  Kind kind = Kind::UnsupportedVersion;
  std::string detail{};
  CryptoError crypto{};

  std::string message() const;
  friend bool operator==(const TctError&, const TctError&) = default;

  [[nodiscard]] static TctError of(Kind kind) { return {kind}; }
  [[nodiscard]] static TctError whitespace_in_grant(std::string grant) {
    return {Kind::WhitespaceInGrant, std::move(grant)};
  }
  [[nodiscard]] static TctError claims_malformed(std::string text) {
    return {Kind::ClaimsMalformed, std::move(text)};
  }
  [[nodiscard]] static TctError unknown_field(std::string name) {
    return {Kind::UnknownField, std::move(name)};
  }
  [[nodiscard]] static TctError missing_field(std::string name) {
    return {Kind::MissingField, std::move(name)};
  }
  [[nodiscard]] static TctError canonicalization(std::string text) {
    return {Kind::Canonicalization, std::move(text)};
  }
  [[nodiscard]] static TctError wrap(CryptoError error) {
    return {Kind::Crypto, {}, std::move(error)};
  }
};

}  // namespace zelk
