#pragma once

#include <expected>
#include <string>

#include "crypto/sha256.hpp"
#include "formats/bytes.hpp"

namespace zelk {

// Why a certificate could not be read: the X.509 parser's own description.
struct SpkiError {
  std::string text;
  std::string message() const { return text; }
  friend bool operator==(const SpkiError&, const SpkiError&) = default;
};

// SHA-256 of the complete DER of the SubjectPublicKeyInfo (tag and length included) of the one
// X.509 certificate at the start of `cert_der`; bytes after it are ignored. Nothing else of the
// certificate is examined.
[[nodiscard]] std::expected<Sha256Digest, SpkiError> spki_sha256(ByteView cert_der);

}  // namespace zelk
