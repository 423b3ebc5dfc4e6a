#pragma once

// Public keys of outside identity providers (JWK entries of an issuer's key set) and the check of
// a compact JWS signature against one of them. These keys are kept apart from agent keys: an
// agent key is Ed25519 or P-256 only, while a provider may also sign with RSA.

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "crypto/crypto_error.hpp"
#include "formats/bytes.hpp"

namespace zelk {

// The one algorithm a key accepts, fixed by its kind.
enum class JwkAlg : std::uint8_t { EdDSA, ES256, RS256 };

// "EdDSA", "ES256" or "RS256".
std::string_view jwk_alg_name(JwkAlg alg);

struct JwkEd25519Key {
  std::array<std::uint8_t, 32> x{};
  friend bool operator==(const JwkEd25519Key&, const JwkEd25519Key&) = default;
};
// Big-endian affine coordinates.
struct JwkP256Key {
  std::array<std::uint8_t, 32> x{};
  std::array<std::uint8_t, 32> y{};
  friend bool operator==(const JwkP256Key&, const JwkP256Key&) = default;
};
// Big-endian unsigned modulus and exponent, as given (any length, empty included); whether they
// make a usable key is decided when a signature is checked.
struct JwkRsaKey {
  Bytes n;
  Bytes e;
  friend bool operator==(const JwkRsaKey&, const JwkRsaKey&) = default;
};

using JwkKeyMaterial = std::variant<JwkEd25519Key, JwkP256Key, JwkRsaKey>;

// Why a signature was not accepted by a key.
struct JwkVerifyError {
  enum class Kind : std::uint8_t { AlgMismatch, KeyInvalid, SignatureInvalid };
  Kind kind = Kind::SignatureInvalid;
  std::string header_alg{};        // AlgMismatch: the header's alg as given
  JwkAlg key_alg = JwkAlg::EdDSA;  // AlgMismatch: the key's algorithm
  CryptoError crypto{};            // KeyInvalid: why the key material is unusable

  std::string message() const;
  friend bool operator==(const JwkVerifyError&, const JwkVerifyError&) = default;
};

namespace crypto_detail {
struct PreparedJwk;
}

// One public key of an issuer's key set. Immutable; copies share the key as parsed once when it
// was made, so checking a signature never decodes the key material again.
class Jwk {
 public:
  static Jwk ed25519(std::optional<std::string> kid, std::span<const std::uint8_t, 32> x);
  static Jwk p256(std::optional<std::string> kid, std::span<const std::uint8_t, 32> x,
                  std::span<const std::uint8_t, 32> y);
  static Jwk rsa(std::optional<std::string> kid, Bytes n, Bytes e);

  const std::optional<std::string>& kid() const { return kid_; }
  const JwkKeyMaterial& key() const { return key_; }
  JwkAlg alg() const { return static_cast<JwkAlg>(key_.index()); }

  friend bool operator==(const Jwk& a, const Jwk& b) {
    return a.kid_ == b.kid_ && a.key_ == b.key_;
  }

 private:
  Jwk(std::optional<std::string> kid, JwkKeyMaterial key);
  friend std::expected<void, JwkVerifyError> verify_jws_with_jwk(const Jwk&, std::string_view,
                                                                 ByteView, ByteView);

  std::optional<std::string> kid_;
  JwkKeyMaterial key_;
  std::shared_ptr<const crypto_detail::PreparedJwk> prepared_;
};

// The header's alg must be exactly the key's algorithm name (case matters; "none" and HMAC names
// never match). Then: Ed25519 strict verification; ES256 over SHA-256 of the signing input with a
// raw 64-byte r||s signature (a DER signature fails); RS256 as RSASSA-PKCS1-v1_5 with SHA-256 for
// a minimal modulus of 2048 to 8192 bits, an odd exponent of at least 3 and below the modulus, and
// a signature exactly as long as the modulus. An RSA key never gives KeyInvalid: every RSA refusal
// is SignatureInvalid.
[[nodiscard]] std::expected<void, JwkVerifyError> verify_jws_with_jwk(const Jwk& key,
                                                                      std::string_view header_alg,
                                                                      ByteView signing_input,
                                                                      ByteView signature);

}  // namespace zelk
