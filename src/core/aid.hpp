#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "formats/bytes.hpp"

namespace zelk {

inline constexpr std::string_view kAidEd25519LongPrefix = "aid:pubkey:ed25519:";
inline constexpr std::string_view kAidP256Prefix = "aid:pubkey:p256:";
inline constexpr std::string_view kAidEd25519Prefix = "aid:pubkey:";

// Why a text is not an AID.
struct AidError {
  enum class Kind { NotAid, UnsupportedMethod, BadLength, NonBase64Url };
  Kind kind;
  std::string method{};      // UnsupportedMethod
  std::size_t got = 0;       // BadLength: identifier length found
  std::size_t required = 0;  // BadLength: 43 or 44

  std::string message() const;
  friend bool operator==(const AidError&, const AidError&) = default;
};

enum class AidKeyKind { Ed25519, P256 };

// A validated agent identifier. It keeps the text it was parsed from, byte for byte; two AIDs are
// equal only when their texts are, so the long and short Ed25519 forms of one key differ.
class Aid {
 public:
  // An empty placeholder for record fields about to be read; every Aid a reader or parse_aid
  // hands out holds a validated text.
  Aid() = default;

  const std::string& text() const { return text_; }
  AidKeyKind key_kind() const;

  friend bool operator==(const Aid&, const Aid&) = default;
  friend auto operator<=>(const Aid&, const Aid&) = default;

 private:
  explicit Aid(std::string text) : text_(std::move(text)) {}
  friend std::expected<Aid, AidError> parse_aid_owned(std::string text);
  std::string text_;
};

[[nodiscard]] std::expected<Aid, AidError> parse_aid(std::string_view text);
[[nodiscard]] std::expected<Aid, AidError> parse_aid_owned(std::string text);

std::string aid_from_ed25519_key(ByteView key32);
std::string aid_from_p256_key(ByteView key33);

std::optional<Bytes> aid_ed25519_key_bytes(const Aid& aid);
std::optional<Bytes> aid_p256_key_bytes(const Aid& aid);
Bytes aid_public_key_bytes(const Aid& aid);

}  // namespace zelk
