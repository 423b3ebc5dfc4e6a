#pragma once

#include <cstdint>
#include <string>

#include "crypto/area_error.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// The kinds of SessionBundleError.
enum class SessionBundleErrorKind : std::uint8_t {
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

// The failure of participant token decoding, signing input, building and verification of a
// session trust bundle; detail is the text of Canonicalization and UnknownField.
struct SessionBundleError : AreaError<SessionBundleError, SessionBundleErrorKind> {
  TctError tct{};  // ParticipantTct only

  std::string message() const;
  friend bool operator==(const SessionBundleError&, const SessionBundleError&) = default;

  [[nodiscard]] static SessionBundleError participant_tct(TctError error) {
    return {{Kind::ParticipantTct}, std::move(error)};
  }
};

inline std::string display_session_bundle_error(const SessionBundleError& error) {
  return error.message();
}

}  // namespace zelk
