#pragma once

#include <cstdint>
#include <string>

#include "crypto/crypto_error.hpp"

namespace zelk {

// Why a delegation operation failed. The kind numbers are stable and part of the interface.
struct DelegationError {
  enum class Kind : std::uint8_t {
    AudienceMismatch = 0,
    ScopeExceedsGrant = 1,
    VoucherInvalid = 2,
    SourceRevoked = 3,
    SignatureInvalid = 4,
    Expired = 5,
    PopFailed = 6,
    CnfMalformed = 7,
    UnsupportedVersion = 8,
    ClaimsMalformed = 9,  // detail: the reason
    MultiHopUnsupported = 10,
    HopLimitExceeded = 11,
    ChainHashMismatch = 12,
    SelfDelegation = 13,
    EmptyScope = 14,
    MissingField = 15,      // detail: the input's name
    Canonicalization = 16,  // detail: the reason
    Crypto = 17,            // crypto: the wrapped error, shown by its own message
    UnknownField = 18,      // detail: the member name
  };
  Kind kind = Kind::AudienceMismatch;
  std::string detail{};
  CryptoError crypto{};

  std::string message() const;
  friend bool operator==(const DelegationError&, const DelegationError&) = default;

  [[nodiscard]] static DelegationError of(Kind kind) { return {kind}; }
  [[nodiscard]] static DelegationError claims_malformed(std::string text) {
    return {Kind::ClaimsMalformed, std::move(text)};
  }
  [[nodiscard]] static DelegationError missing_field(std::string name) {
    return {Kind::MissingField, std::move(name)};
  }
  [[nodiscard]] static DelegationError canonicalization(std::string text) {
    return {Kind::Canonicalization, std::move(text)};
  }
  [[nodiscard]] static DelegationError wrap(CryptoError error) {
    return {Kind::Crypto, {}, std::move(error)};
  }
  [[nodiscard]] static DelegationError unknown_field(std::string name) {
    return {Kind::UnknownField, std::move(name)};
  }
};

}  // namespace zelk
