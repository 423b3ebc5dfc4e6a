#include "tct/tct_error.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zelk {
namespace {

using Kind = TctError::Kind;

TEST(TctError, EveryKindShowsItsFixedMessage) {
  const struct {
    TctError error;
    int number;
    const char* message;
  } cases[] = {
      {TctError::of(Kind::UnsupportedVersion), 0, "TCT version is not supported"},
      {TctError::of(Kind::SignatureInvalid), 1, "TCT signature is invalid"},
      {TctError::of(Kind::IssuerMismatch), 2, "TCT issuer does not match the verifying key"},
      {TctError::of(Kind::AudienceMismatch), 3, "TCT audience does not match"},
      {TctError::of(Kind::OutsideValidity), 4, "TCT has expired or is not yet valid"},
      {TctError::of(Kind::ExceedsManifest), 5, "TCT expires_at exceeds issuer Manifest expires_at"},
      {TctError::of(Kind::JtiRevoked), 6, "TCT jti is revoked"},
      {TctError::of(Kind::EmptyGrants), 7, "TCT grants must be non-empty"},
      {TctError::whitespace_in_grant("read all"), 8,
       "TCT grant must not contain whitespace: `read all`"},
      {TctError::of(Kind::CnfMismatch), 9, "TCT cnf.jkt does not match the subject key"},
      {TctError::claims_malformed("grant voucher does not mirror the companion TCT"), 10,
       "claims malformed: grant voucher does not mirror the companion TCT"},
      {TctError::unknown_field("x"), 11, "unknown field: x"},
      {TctError::missing_field("subject_pubkey"), 12, "missing required field: subject_pubkey"},
      {TctError::canonicalization("serialization failed: invalid float value"), 13,
       "canonicalization failed: serialization failed: invalid float value"},
      {TctError::of(Kind::PopNonceEchoMismatch), 14, "PoP nonce echo mismatch"},
      {TctError::of(Kind::PopSignatureFailed), 15, "PoP signature failed"},
      {TctError::of(Kind::PopChallengeExpired), 16, "PoP challenge expired"},
      {TctError::of(Kind::PopResponseJtiMismatch), 17, "PoP response jti mismatch"},
      {TctError::wrap(CryptoError::verification()), 18, "signature verification failed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.message(), c.message);
    EXPECT_EQ(static_cast<int>(c.error.kind), c.number) << c.message;
  }
}

TEST(TctError, WrappedCryptoErrorShowsItsOwnMessageWithoutPrefix) {
  EXPECT_EQ(TctError::wrap(CryptoError::typ_mismatch("zelk-tct+jwt", "zelk-grant+jwt")).message(),
            "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-grant+jwt");
  EXPECT_EQ(TctError::wrap(CryptoError::malformed("payload is not a JSON object")).message(),
            "compact JWS malformed: payload is not a JSON object");
}

}  // namespace
}  // namespace zelk
