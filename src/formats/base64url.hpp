#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "formats/bytes.hpp"

namespace zelk {

// Why a text is not acceptable unpadded base64url.
struct Base64UrlError {
  enum class Kind { PaddingForbidden, InvalidCharacter };
  Kind kind;

  std::string_view message() const {
    return kind == Kind::PaddingForbidden ? "base64url padding is forbidden in ZELK"
                                          : "invalid base64url character";
  }
  friend bool operator==(const Base64UrlError&, const Base64UrlError&) = default;
};

// Strict decoding: no "=", only the URL-safe alphabet, no lone trailing character and no
// non-zero bits beyond the last whole byte.
[[nodiscard]] std::expected<Bytes, Base64UrlError> b64url_decode(std::string_view text);

// True when `text` is made only of base64url alphabet characters (no padding).
bool is_b64url_alphabet(std::string_view text);

// Unpadded URL-safe encoding.
std::string b64url_encode(ByteView bytes);
void b64url_encode_append(ByteView bytes, std::string& out);

}  // namespace zelk
