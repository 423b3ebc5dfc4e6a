#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "crypto/crypto_error.hpp"
#include "crypto/random.hpp"
#include "formats/bytes.hpp"

namespace zelk {

// The signature suite of an agent key.
enum class KeySuite : std::uint8_t { Ed25519, P256 };

// "ed25519" or "p256".
std::string_view key_suite_name(KeySuite suite);
// Exact, case-sensitive match of one of the two names.
std::optional<KeySuite> key_suite_from_name(std::string_view name);

using Digest32 = std::span<const std::uint8_t, 32>;
using Signature64 = std::array<std::uint8_t, 64>;

class VerifyingKey;

namespace crypto_detail {
// Public keys just computed from a private key: they are points by construction, so they skip
// the decoding checks that keys from outside go through.
VerifyingKey ed25519_key_from_derived(std::span<const std::uint8_t, 32> key32);
VerifyingKey p256_key_from_derived(std::span<const std::uint8_t, 33> compressed,
                                   std::span<const std::uint8_t, 65> uncompressed);
// 0 < value < n for a big-endian P-256 scalar, decided without branching on the value's bytes.
bool p256_scalar_in_range(std::span<const std::uint8_t, 32> be);
}  // namespace crypto_detail

// A public key: an Ed25519 curve point (small-order points included; strict verification refuses
// them) or a P-256 point. Copies share one parsed OpenSSL key, so verification never re-decodes.
class VerifyingKey {
 public:
  KeySuite suite() const { return suite_; }
  // The 32-byte Ed25519 key or the 33-byte SEC1 compressed P-256 point.
  ByteView bytes() const {
    return {bytes_.data(), suite_ == KeySuite::P256 ? std::size_t{33} : std::size_t{32}};
  }
  // P-256 only: the 65-byte SEC1 uncompressed point; empty for Ed25519.
  ByteView p256_uncompressed() const {
    return suite_ == KeySuite::P256 ? ByteView(uncompressed_) : ByteView();
  }

  friend bool operator==(const VerifyingKey& a, const VerifyingKey& b) {
    return a.suite_ == b.suite_ && a.bytes_ == b.bytes_;
  }

 private:
  VerifyingKey() = default;
  friend std::expected<VerifyingKey, CryptoError> ed25519_key_from_bytes(ByteView key32);
  friend std::expected<VerifyingKey, CryptoError> p256_key_from_sec1(ByteView encoded);
  friend std::expected<void, CryptoError> verify_signature_bytes(const VerifyingKey& key,
                                                                 ByteView message,
                                                                 ByteView signature);
  friend VerifyingKey crypto_detail::ed25519_key_from_derived(
      std::span<const std::uint8_t, 32> key32);
  friend VerifyingKey crypto_detail::p256_key_from_derived(
      std::span<const std::uint8_t, 33> compressed, std::span<const std::uint8_t, 65> uncompressed);

  KeySuite suite_ = KeySuite::Ed25519;
  std::array<std::uint8_t, 33> bytes_{};
  std::array<std::uint8_t, 65> uncompressed_{};
  // P-256 only: OpenSSL's parsed key, shared by copies. A key decoded from outside has it from
  // the start; a signing key's own public key makes it on its first verification.
  struct P256Handle;
  std::shared_ptr<P256Handle> pkey_;
};

// P-256 AIDs give PublicKey, Ed25519 AIDs AidKey, both carrying "signature error".
[[nodiscard]] std::expected<VerifyingKey, CryptoError> verifying_key_from_aid(const Aid& aid);
// Any 32 bytes that decode to a point of the curve; otherwise PublicKey "signature error".
[[nodiscard]] std::expected<VerifyingKey, CryptoError> ed25519_key_from_bytes(ByteView key32);
// A SEC1 compressed (33 bytes, tag 2 or 3) or uncompressed (65 bytes, tag 4) P-256 point on the
// curve; otherwise PublicKey "signature error".
[[nodiscard]] std::expected<VerifyingKey, CryptoError> p256_key_from_sec1(ByteView encoded);

Bytes public_key_bytes(const VerifyingKey& key);

// A raw 64-byte signature over the whole message: strict RFC 8032 Ed25519, or P-256 ECDSA over
// SHA-256 of the message with r and s in 1..n-1 (a high s is accepted). Any refusal is
// Verification.
[[nodiscard]] std::expected<void, CryptoError> verify_signature_bytes(const VerifyingKey& key,
                                                                      ByteView message,
                                                                      ByteView signature);

// RFC 7638 thumbprint: 43 base64url characters.
[[nodiscard]] std::expected<std::string, CryptoError> jwk_thumbprint(const VerifyingKey& key);
// The thumbprint of the key an AID names, failing as verifying_key_from_aid does; remembered with
// the key, so a verifier that sees the same subjects again does no hashing.
[[nodiscard]] std::expected<std::string, CryptoError> aid_thumbprint(const Aid& aid);

// An agent's private key with its AID and public key. Immutable; the secret is overwritten when
// the key is destroyed (or moved from). Share one key through std::shared_ptr<const SigningKey>.
class SigningKey {
 public:
  // The 32 bytes are the RFC 8032 private key; every value is valid.
  static SigningKey ed25519_from_seed(std::span<const std::uint8_t, 32> seed);
  // The 32 bytes are the big-endian scalar, which must lie in 1..n-1 (compared in constant time);
  // otherwise PublicKey "signature error".
  [[nodiscard]] static std::expected<SigningKey, CryptoError> p256_from_scalar(
      std::span<const std::uint8_t, 32> scalar);

  SigningKey(SigningKey&& other) noexcept;
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  SigningKey& operator=(SigningKey&&) = delete;
  ~SigningKey();

  KeySuite suite() const { return suite_; }
  const Aid& aid() const { return aid_; }
  const std::string& aid_text() const { return aid_.text(); }
  const VerifyingKey& verifying_key() const { return public_; }
  // 32-byte Ed25519 key or 33-byte compressed P-256 point.
  ByteView public_key() const { return public_.bytes(); }

 private:
  struct P256State;
  SigningKey(KeySuite suite, Aid aid, VerifyingKey pub);
  void wipe() noexcept;

  friend Signature64 sign_bytes(const SigningKey& key, ByteView message);

  KeySuite suite_;
  std::array<std::uint8_t, 64> ed25519_secret_{};  // private key followed by public key
  std::array<std::uint8_t, 32> p256_scalar_{};
  std::unique_ptr<P256State> p256_;  // P-256 only: the prepared nonce generator
  Aid aid_;
  VerifyingKey public_;
};

// Fresh keys from the operating system's random source.
[[nodiscard]] std::expected<SigningKey, RandomError> generate_ed25519_key();
[[nodiscard]] std::expected<SigningKey, RandomError> generate_p256_key();
[[nodiscard]] std::expected<SigningKey, RandomError> generate_key(KeySuite suite);

// Deterministic signature over the whole message (P-256: RFC 6979 nonce, ECDSA over SHA-256 of
// the message, r then s, no low-s normalisation).
[[nodiscard]] Signature64 sign_bytes(const SigningKey& key, ByteView message);

}  // namespace zelk
