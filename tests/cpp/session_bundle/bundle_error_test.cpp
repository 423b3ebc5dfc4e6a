#include "session_bundle/bundle_error.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace zelk {
namespace {

using Kind = SessionBundleError::Kind;

TEST(SessionBundleError, Texts) {
  const std::pair<SessionBundleError, std::string> cases[] = {
      {SessionBundleError::of(Kind::VersionMismatch), "bundle version mismatch"},
      {SessionBundleError::of(Kind::SignatureInvalid), "bundle signature is invalid"},
      {SessionBundleError::of(Kind::Expired), "bundle has expired"},
      {SessionBundleError::of(Kind::ExpiryMismatch),
       "bundle expires_at does not equal min(participant TCT expiries)"},
      {SessionBundleError::of(Kind::IssuerMismatch),
       "participant TCT issuer does not match coordinator"},
      {SessionBundleError::of(Kind::AudienceMismatch),
       "participant TCT audience does not match entry AID"},
      {SessionBundleError::of(Kind::NotAMember), "verifier is not a member of this bundle"},
      {SessionBundleError::of(Kind::EmptyParticipants), "participants array is empty"},
      {SessionBundleError::canonicalization("why"), "canonicalization failed: why"},
      {SessionBundleError::participant_tct(TctError::of(TctError::Kind::JtiRevoked)),
       "participant TCT verification failed: TCT jti is revoked"},
      {SessionBundleError::wrap(CryptoError::verification()), "signature verification failed"},
      {SessionBundleError::unknown_field("x"), "unknown field: x"},
  };
  for (const auto& [error, text] : cases) {
    EXPECT_EQ(error.message(), text);
    EXPECT_EQ(display_session_bundle_error(error), text);
  }
}

}  // namespace
}  // namespace zelk
