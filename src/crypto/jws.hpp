#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "core/aid.hpp"
#include "crypto/crypto_error.hpp"
#include "crypto/keys.hpp"
#include "formats/bytes.hpp"
#include "formats/json/parse.hpp"
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
[[nodiscard]] std::expected<JwsSegments, CryptoError> split_compact_jws(std::string_view token);

// A compact JWS taken apart once: split, each segment decoded, header and payload each parsed as
// JSON. Pre-checks, the signature check and the strict claims read all work on this one form, so
// a token's text is never decoded or parsed twice. Only the split can fail here; every other
// problem is kept and reported by the step whose turn it is.
//   auto jws = CompactJws::parse(token);
//   if (!jws) ...;
//   if (auto ok = verify_compact_jws(*jws, issuer, kTctTyp); !ok) ...;
// Token kinds wrap it with their claims in ParsedToken below.
class CompactJws {
 public:
  [[nodiscard]] static std::expected<CompactJws, CryptoError> parse(std::string_view token);

  // The token as received.
  const std::string& text() const { return text_; }
  JwsSegments segments() const;
  // "header.payload" as received: what the signature covers.
  std::string_view signing_input() const {
    return std::string_view(text_).substr(0, header_len_ + 1 + payload_len_);
  }

  // Each segment decoded, or Malformed "<segment> segment: <base64url error>".
  const std::expected<Bytes, CryptoError>& header_bytes() const { return header_; }
  const std::expected<Bytes, CryptoError>& payload_bytes() const { return payload_; }
  const std::expected<Bytes, CryptoError>& signature_bytes() const { return signature_; }
  // The payload bytes as text; empty when the payload did not decode.
  std::string_view payload_text() const;
  std::string_view header_text() const;

  // The header and payload read as JSON; null when the segment did not decode or is not one JSON
  // text.
  const json::ParsedText* header_json() const { return header_json_ ? &*header_json_ : nullptr; }
  const json::ParsedText* payload_json() const { return payload_json_ ? &*payload_json_ : nullptr; }
  // The header's typ when the header is a JSON object with a string typ (the last one given);
  // what a verifier looks at before deciding to pre-check the claims.
  std::optional<std::string_view> typ_hint() const;

 private:
  CompactJws() = default;

  std::string text_;
  std::size_t header_len_ = 0;
  std::size_t payload_len_ = 0;
  std::expected<Bytes, CryptoError> header_;
  std::expected<Bytes, CryptoError> payload_;
  std::expected<Bytes, CryptoError> signature_;
  std::optional<json::ParsedText> header_json_;
  std::optional<json::ParsedText> payload_json_;
};

// The only signature check of tokens: segment encodings, strict header, typ, alg for the signer's
// key kind, the signer's key, the signature over the segments as received, and last that the
// payload is a JSON object.
[[nodiscard]] std::expected<void, CryptoError> verify_compact_jws(const CompactJws& jws,
                                                                  const Aid& signer,
                                                                  std::string_view expected_typ);
// The same from the text; returns the decoded payload bytes.
[[nodiscard]] std::expected<Bytes, CryptoError> verify_compact_jws(std::string_view token,
                                                                   const Aid& signer,
                                                                   std::string_view expected_typ);

// What token readers refuse in a decoded payload before any signature work: a member name given
// twice in one object at any depth (Repeated: the scan's message with its position; also any
// syntax error the scan meets first), else the first top-level member that `declared` does not
// name (Undeclared: that name). Absent when neither; a payload that is not JSON is left to the
// strict read. Call once the payload has decoded.
struct PayloadProblem {
  enum class Kind : std::uint8_t { Repeated, Undeclared };
  Kind kind;
  std::string text;
};
std::optional<PayloadProblem> precheck_payload(const CompactJws& jws,
                                               std::span<const std::string_view> declared);

// A compact JWS with its claims read strictly from the payload (map or array form; messages
// carry their position) once, before any signature check. What token readers and verifiers
// share: these claims are unverified, and only a verifier turns them into Verified<Claims>.
template <json::Record Claims>
class ParsedToken {
 public:
  // Fails only when the token does not split.
  [[nodiscard]] static std::expected<ParsedToken, CryptoError> parse(std::string_view token) {
    auto jws = CompactJws::parse(token);
    if (!jws) return std::unexpected(std::move(jws.error()));
    return ParsedToken(std::move(*jws));
  }
  explicit ParsedToken(CompactJws jws)
      : jws_(std::move(jws)),
        claims_(json::read_record<Claims>(jws_.payload_text(), jws_.payload_json())) {}

  const CompactJws& jws() const { return jws_; }
  const std::string& text() const { return jws_.text(); }
  // Meaningful once the payload decoded; a verifier reports decoding first.
  const std::expected<Claims, json::JsonError>& claims() const { return claims_; }

 private:
  CompactJws jws_;
  std::expected<Claims, json::JsonError> claims_;
};

// The decoded payload of a token's text without any check beyond its shape.
[[nodiscard]] std::expected<Bytes, CryptoError> decode_jws_payload_unverified(
    std::string_view token);

// The header's typ when the first segment of a token's text decodes to a JSON object with a
// string typ; never fails.
std::optional<std::string> peek_jws_typ(std::string_view token);

// "EdDSA" for an Ed25519 key, "ES256" for a P-256 key.
std::string_view jws_alg(KeySuite suite);

// The header text written literally: {"alg":"…","typ":"…"} with no whitespace.
std::string jws_header_text(KeySuite suite, std::string_view typ);

// A token over payload bytes the caller has already put into canonical form.
[[nodiscard]] std::string sign_compact_jws(const SigningKey& key, std::string_view typ,
                                           ByteView payload);

// A token whose payload is the canonical form of `claims`; a canonical writer failure is
// Malformed "claims canonicalization: " + its message.
[[nodiscard]] std::expected<std::string, CryptoError> encode_compact_jws(const SigningKey& key,
                                                                         std::string_view typ,
                                                                         const json::Value& claims);

}  // namespace zelk
