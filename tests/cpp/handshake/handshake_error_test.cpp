#include "handshake/handshake_error.hpp"

#include <gtest/gtest.h>

#include "handshake/jwks.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

using Kind = HandshakeError::Kind;

TEST(HandshakeError, Texts) {
  const std::pair<HandshakeError, std::string> cases[] = {
      {HandshakeError::invalid_envelope("x"), "invalid envelope: x"},
      {HandshakeError::of(Kind::IncompatibleTrustAnchors), "incompatible trust anchors"},
      {HandshakeError::wrap(ManifestError::of(ManifestError::Kind::Expired)),
       "manifest verification failed: manifest has expired"},
      {HandshakeError::identity("y"), "identity verification failed: y"},
      {HandshakeError::issuer_key_resolution("I", "r"), "issuer key resolution failed for I: r"},
      {HandshakeError::of(Kind::NonceMismatch), "nonce mismatch"},
      {HandshakeError::of(Kind::PopSignature), "pop signature verification failed"},
      {HandshakeError::of(Kind::InsufficientGrants), "insufficient grants in peer-issued TCT"},
      {HandshakeError::of(Kind::GrantsExceedOffer),
       "peer-issued TCT grants exceed the issuer's offered_capabilities"},
      {HandshakeError::wrap(TctError::of(TctError::Kind::OutsideValidity)),
       "TCT verification failed: TCT has expired or is not yet valid"},
      {HandshakeError::wrap(CryptoError::aid_key(kSignatureErrorText)),
       "AID does not yield a valid Ed25519 public key: signature error"},
      {HandshakeError::state("on_commit out of order"),
       "handshake state error: on_commit out of order"},
      {HandshakeError::rng("getrandom failed"), "rng failure: getrandom failed"},
      {HandshakeError::of(Kind::PolicyDenied),
       "policy denies handshake (empty grant intersection)"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.message(), text);
}

TEST(HandshakeError, ResolverErrorsShownAfterTheIssuer) {
  const JwksResolverError not_trusted =
      JwksResolverError::not_trusted(test::url_of("https://idp.example"));
  EXPECT_EQ(not_trusted.message(), "issuer not trusted: https://idp.example/");
  EXPECT_EQ(map_resolver_error("https://idp.example", not_trusted).message(),
            "issuer key resolution failed for https://idp.example: issuer not trusted: "
            "https://idp.example/");
  EXPECT_EQ(JwksResolverError::unavailable("r").message(), "could not resolve issuer keys: r");
}

}  // namespace
}  // namespace zelk
