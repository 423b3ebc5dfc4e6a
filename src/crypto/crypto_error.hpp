#pragma once

#include <string>

namespace zelk {

// The failure of a key, signature or compact JWS operation.
struct CryptoError {
  enum class Kind {
    Verification,
    SignatureParse,
    PublicKey,
    AidKey,
    AlgMismatch,
    TypMismatch,
    Malformed,
  };
  Kind kind = Kind::Verification;
  std::string detail{};  // the carried text; for TypMismatch the expected typ
  std::string got{};     // TypMismatch only: the typ found

  std::string message() const;
  friend bool operator==(const CryptoError&, const CryptoError&) = default;

  [[nodiscard]] static CryptoError verification() { return {Kind::Verification}; }
  [[nodiscard]] static CryptoError signature_parse(std::string text) {
    return {Kind::SignatureParse, std::move(text)};
  }
  [[nodiscard]] static CryptoError public_key(std::string text) {
    return {Kind::PublicKey, std::move(text)};
  }
  [[nodiscard]] static CryptoError aid_key(std::string text) {
    return {Kind::AidKey, std::move(text)};
  }
  [[nodiscard]] static CryptoError alg_mismatch(std::string text) {
    return {Kind::AlgMismatch, std::move(text)};
  }
  [[nodiscard]] static CryptoError typ_mismatch(std::string expected, std::string found) {
    return {Kind::TypMismatch, std::move(expected), std::move(found)};
  }
  [[nodiscard]] static CryptoError malformed(std::string text) {
    return {Kind::Malformed, std::move(text)};
  }
};

// The text every key decoder carries when the bytes are no usable public key.
inline constexpr const char* kSignatureErrorText = "signature error";

}  // namespace zelk
