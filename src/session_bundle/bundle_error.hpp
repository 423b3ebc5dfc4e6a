#pragma once

#include <cstdint>
#include <string>

#include "crypto/crypto_error.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// The failure of participant token decoding, signing input, building and verification of a
// session trust bundle.
struct SessionBundleError {
  enum class Kind : std::uint8_t {
    VersionMismatch,    // "bundle version mismatch"
    SignatureInvalid,   // "bundle signature is invalid"
    Expired,            // "bundle has expired"
    ExpiryMismatch,     // "bundle expires_at does not equal min(participant TCT expiries)"
    IssuerMismatch,     // "participant TCT issuer does not match coordinator"
    AudienceMismatch,   // "participant TCT audience does not match entry AID"
    NotAMember,         // "verifier is not a member of this bundle"
    EmptyParticipants,  // "participants array is empty"
    Canonicalization,   // "canonicalization failed: {detail}"
    ParticipantTct,     // "participant TCT verification failed: {tct}"
    Crypto,             // the CryptoError's own message
    UnknownField,       // "unknown field: {detail}"
  };
  Kind kind = Kind::VersionMismatch;
  std::string detail{};  // Canonicalization and UnknownField
  TctError tct{};        // ParticipantTct only
  CryptoError crypto{};  // Crypto only

  std::string message() const;
  friend bool operator==(const SessionBundleError&, const SessionBundleError&) = default;

  [[nodiscard]] static SessionBundleError of(Kind kind) { return {kind}; }
  [[nodiscard]] static SessionBundleError canonicalization(std::string text) {
    return {Kind::Canonicalization, std::move(text)};
  }
  [[nodiscard]] static SessionBundleError unknown_field(std::string name) {
    return {Kind::UnknownField, std::move(name)};
  }
  [[nodiscard]] static SessionBundleError participant_tct(TctError error) {
    return {Kind::ParticipantTct, {}, std::move(error)};
  }
  [[nodiscard]] static SessionBundleError wrap(CryptoError error) {
    return {Kind::Crypto, {}, {}, std::move(error)};
  }
};

inline std::string display_session_bundle_error(const SessionBundleError& error) {
  return error.message();
}

}  // namespace zelk
