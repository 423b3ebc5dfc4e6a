#pragma once

// The public keys of OIDC issuers as callers hand them over: JWK dicts turned into Jwk records.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/jwk.hpp"
#include "formats/json/value.hpp"
#include "python/runtime/error.hpp"

namespace zelk::py {

// Why a key object was refused: "unsupported JWK: <detail>" or "malformed JWK: <detail>".
struct JwkError {
  enum class Kind : std::uint8_t { Unsupported, Malformed };
  Kind kind = Kind::Malformed;
  std::string detail;

  std::string message() const;
};

// One key object, read by exact member names; members other than kid, kty, crv, x, y, n and e
// are ignored, the key's own "alg" included: the algorithm follows from the key's kind.
[[nodiscard]] std::expected<Jwk, JwkError> jwk_from_value(const json::Value& value);

// Every element of a Python list of JWK dicts, in order, each serialised by the interpreter's
// json.dumps and read back. The first refused element ends the load.
[[nodiscard]] Result<std::vector<Jwk>> load_jwk_list(BorrowedRef list);

}  // namespace zelk::py
