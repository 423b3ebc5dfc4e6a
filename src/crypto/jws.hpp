#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "core/aid.hpp"
#include "crypto/crypto_error.hpp"
#include "crypto/keys.hpp"
#include "formats/bytes.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"

namespace zelk {

// The protected header of the system's own tokens.
struct JwsHeader {
  std::string alg;  // "EdDSA" or "ES256"
  std::string typ;
  friend bool operator==(const JwsHeader&, const JwsHeader&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::JwsHeader> {
  static constexpr std::string_view name = "JwsHeader";
  static constexpr std::tuple members{
      member::required("alg", &zelk::JwsHeader::alg),
      member::required("typ", &zelk::JwsHeader::typ),
  };
};

namespace zelk {

inline constexpr std::string_view kJwsAlgEdDsa = "EdDSA";
inline constexpr std::string_view kJwsAlgEs256 = "ES256";

// The three segments of a compact JWS, each a part of the token text.
struct JwsSegments {
  std::string_view header;
  std::string_view payload;
  std::string_view signature;
};

// Malformed "expected exactly three non-empty segments" unless the token is three non-empty
// pieces separated by full stops.
std::expected<JwsSegments, CryptoError> split_compact_jws(std::string_view token);

// The only signature check of tokens: shape, encodings, strict header, typ, alg for the signer's
// key kind, the signer's key, the signature over the segments as received, and last that the
// payload is a JSON object. Returns the decoded payload bytes.
std::expected<Bytes, CryptoError> verify_compact_jws(std::string_view token, const Aid& signer,
                                                     std::string_view expected_typ);

// The decoded payload without any check beyond the token's shape.
std::expected<Bytes, CryptoError> decode_jws_payload_unverified(std::string_view token);

// The header's typ when the first segment decodes to a JSON object with a string typ; never fails.
std::optional<std::string> peek_jws_typ(std::string_view token);

// "EdDSA" for an Ed25519 key, "ES256" for a P-256 key.
std::string_view jws_alg(KeySuite suite);

// The header text written literally: {"alg":"…","typ":"…"} with no whitespace.
std::string jws_header_text(KeySuite suite, std::string_view typ);

// A token over payload bytes the caller has already put into canonical form.
std::string sign_compact_jws(const SigningKey& key, std::string_view typ, ByteView payload);

// A token whose payload is the canonical form of `claims`; a canonical writer failure is
// Malformed "claims canonicalization: " + its message.
std::expected<std::string, CryptoError> encode_compact_jws(const SigningKey& key,
                                                           std::string_view typ,
                                                           const json::Value& claims);

}  // namespace zelk
