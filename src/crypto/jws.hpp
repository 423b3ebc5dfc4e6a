#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "core/aid.hpp"
#include "crypto/compact_split.hpp"
#include "crypto/crypto_error.hpp"
#include "crypto/keys.hpp"
#include "formats/bytes.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/record.hpp"
#include "formats/json/strict_members.hpp"
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

// Malformed "expected exactly three non-empty segments" unless the token is three non-empty
// pieces separated by full stops.
[[nodiscard]] std::expected<JwsSegments, CryptoError> split_compact_jws(std::string_view token);

// A compact JWS taken apart once: split, each segment decoded, header and payload each read as
// JSON. Pre-checks, the signature check and the strict claims read all work on this one form, so
// a token's text is never decoded or parsed twice. Only the split can fail here; every other
// problem is kept and reported by the step whose turn it is.
//   auto jws = CompactJws::parse(token);
//   if (!jws) ...;
//   if (auto ok = verify_compact_jws(*jws, issuer, kTctTyp); !ok) ...;
// Token kinds hold it with their claims in ParsedToken below.
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

  // The header as JSON; null when it did not decode or is not one JSON text.
  const json::ParsedText* header_json() const { return header_json_ ? &*header_json_ : nullptr; }
  // The header's typ when the header is a JSON object with a string typ (the last one given);
  // what a verifier looks at before deciding to pre-check the claims.
  std::optional<std::string_view> typ_hint() const;
  // The payload as JSON: null when it did not decode or is not one JSON text, and also when a
  // ParsedToken read it cleanly as its record, which leaves nothing a value could show.
  const json::ParsedText* payload_json() const { return payload_json_ ? &*payload_json_ : nullptr; }
  // The payload is one JSON object.
  bool payload_is_object() const { return payload_object_; }

 private:
  template <json::Record>
  friend class ParsedToken;

  CompactJws() = default;
  // Everything but the payload's value.
  [[nodiscard]] static std::expected<CompactJws, CryptoError> decode(std::string_view token);
  void read_payload_value();

  std::string text_;
  std::size_t header_len_ = 0;
  std::size_t payload_len_ = 0;
  std::expected<Bytes, CryptoError> header_;
  std::expected<Bytes, CryptoError> payload_;
  std::expected<Bytes, CryptoError> signature_;
  std::optional<json::ParsedText> header_json_;
  std::optional<json::ParsedText> payload_json_;
  bool payload_object_ = false;
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
// syntax error the scan meets first), else the first top-level member that the record does not
// declare (Undeclared: that name). A payload that is not JSON is left to the strict read. For a
// CompactJws parsed on its own; ParsedToken::precheck_payload is what verifiers call.
// Unreadable (the strict read's whole message) comes only from ParsedToken::claims_problem.
struct PayloadProblem {
  enum class Kind : std::uint8_t { Repeated, Undeclared, Unreadable };
  Kind kind;
  std::string text;
};
[[nodiscard]] std::optional<PayloadProblem> find_payload_problem(
    const CompactJws& jws, std::span<const std::string_view> declared);

// A compact JWS with its claims read strictly from the payload text (map or array form; messages
// carry their position) once, before any signature check. What token readers and verifiers
// share: these claims are unverified, and only a verifier turns them into Verified<Claims>.
template <json::Record Claims>
class ParsedToken {
 public:
  // Fails only when the token does not split.
  [[nodiscard]] static std::expected<ParsedToken, CryptoError> parse(std::string_view token) {
    auto jws = CompactJws::decode(token);
    if (!jws) return std::unexpected(std::move(jws.error()));
    return ParsedToken(std::move(*jws));
  }
  explicit ParsedToken(CompactJws jws) : jws_(std::move(jws)) {
    const std::string_view text = jws_.payload_text();
    json::Reader reader(text);
    Claims claims{};
    const bool read = json::read_next(reader, claims) && reader.finish();
    // Read cleanly in map form, the payload holds nothing more for a value to show.
    const bool clean = read && !reader.saw_repeated_name() && !reader.skipped_member() &&
                       !json::RecordInfo<Claims>::ignore_unknown && starts_object(text);
    if (read)
      claims_ = std::move(claims);
    else
      claims_ = std::unexpected(reader.take_error());
    if (clean) {
      clean_ = jws_.payload_object_ = true;
    } else if (!jws_.payload_json_) {
      jws_.read_payload_value();
    }
  }

  const CompactJws& jws() const { return jws_; }
  const std::string& text() const { return jws_.text(); }
  // Meaningful once the payload decoded; a verifier reports decoding first.
  const std::expected<Claims, json::JsonError>& claims() const { return claims_; }
  // The payload checked against the record's member names (find_payload_problem); call once the
  // payload has decoded.
  [[nodiscard]] std::optional<PayloadProblem> precheck_payload() const {
    if (clean_) return std::nullopt;
    return find_payload_problem(jws_, json::RecordInfo<Claims>::names);
  }
  // What readers that take the claims before any signature check refuse, first found first: the
  // pre-check's problem, then the strict read's own error (Undeclared when it names an unknown
  // member, else Unreadable). Call once the payload has decoded; none means the claims are good.
  [[nodiscard]] std::optional<PayloadProblem> claims_problem() const {
    if (std::optional<PayloadProblem> problem = precheck_payload()) return problem;
    if (claims_) return std::nullopt;
    if (std::optional<std::string> name = json::unknown_field_name(claims_.error()))
      return PayloadProblem{PayloadProblem::Kind::Undeclared, std::move(*name)};
    return PayloadProblem{PayloadProblem::Kind::Unreadable, claims_.error().full()};
  }

 private:
  static bool starts_object(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\n\r");
    return first != std::string_view::npos && text[first] == '{';
  }

  CompactJws jws_;
  std::expected<Claims, json::JsonError> claims_;
  // Read cleanly as the record in map form: an object with no name repeated at any depth and no
  // undeclared member, so no value was built for the pre-check.
  bool clean_ = false;
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
