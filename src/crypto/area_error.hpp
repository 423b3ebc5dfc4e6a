#pragma once

#include <string>
#include <utility>

#include "crypto/crypto_error.hpp"

namespace zelk {

// What the error types of the areas above crypto share: a kind, the text some kinds insert, and
// for the Crypto kind the wrapped CryptoError. Self is the area's own type; it names its kinds'
// texts in message() and adds any payload of its own (and then its own defaulted ==). The
// factories of kinds several areas have under one name exist for the areas that have that kind.
//   enum class TctErrorKind : std::uint8_t {...};
//   struct TctError : AreaError<TctError, TctErrorKind> { std::string message() const; };
template <typename Self, typename KindT, KindT DefaultKind = KindT{}>
struct AreaError {
  using Kind = KindT;
  Kind kind = DefaultKind;
  std::string detail{};
  CryptoError crypto{};

  [[nodiscard]] static Self of(Kind kind, std::string detail = {}) {
    return Self{{kind, std::move(detail)}};
  }
  // clang-format 14 (the repository's) folds requires clauses into the signature line.
  // clang-format off
  [[nodiscard]] static Self wrap(CryptoError error)
    requires requires { Kind::Crypto; }
  {
    return Self{{Kind::Crypto, {}, std::move(error)}};
  }
  [[nodiscard]] static Self claims_malformed(std::string text)
    requires requires { Kind::ClaimsMalformed; }
  {
    return of(Kind::ClaimsMalformed, std::move(text));
  }
  [[nodiscard]] static Self missing_field(std::string name)
    requires requires { Kind::MissingField; }
  {
    return of(Kind::MissingField, std::move(name));
  }
  [[nodiscard]] static Self unknown_field(std::string name)
    requires requires { Kind::UnknownField; }
  {
    return of(Kind::UnknownField, std::move(name));
  }
  [[nodiscard]] static Self canonicalization(std::string text)
    requires requires { Kind::Canonicalization; }
  {
    return of(Kind::Canonicalization, std::move(text));
  }
  [[nodiscard]] static Self rng(std::string text)
    requires requires { Kind::Rng; }
  {
    return of(Kind::Rng, std::move(text));
  }
  // clang-format on

  friend bool operator==(const AreaError&, const AreaError&) = default;

 protected:
  // The texts of the kinds every area that has them shows alike: MissingField, Canonicalization
  // and Rng with their detail, Crypto as the wrapped error's own message. An area's message()
  // hands these kinds here.
  [[nodiscard]] std::string shared_message() const {
    if constexpr (requires { Kind::MissingField; }) {
      if (kind == Kind::MissingField) return "missing required field: " + detail;
    }
    if constexpr (requires { Kind::Canonicalization; }) {
      if (kind == Kind::Canonicalization) return "canonicalization failed: " + detail;
    }
    if constexpr (requires { Kind::Rng; }) {
      if (kind == Kind::Rng) return "rng failure: " + detail;
    }
    if constexpr (requires { Kind::Crypto; }) {
      if (kind == Kind::Crypto) return crypto.message();
    }
    return {};
  }
};

}  // namespace zelk
