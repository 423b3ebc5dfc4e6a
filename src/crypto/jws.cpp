#include "crypto/jws.hpp"

#include "formats/base64url.hpp"
#include "formats/json/canonical.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"

namespace zelk {
namespace {

[[nodiscard]] std::unexpected<CryptoError> malformed(std::string text) {
  return std::unexpected(CryptoError::malformed(std::move(text)));
}

[[nodiscard]] std::expected<Bytes, CryptoError> decode_segment(std::string_view segment,
                                                               const char* what) {
  auto bytes = b64url_decode(segment);
  if (!bytes)
    return malformed(std::string(what) + " segment: " + std::string(bytes.error().message()));
  return std::move(*bytes);
}

// The typ member of a header value that is an object, when it is a string.
std::optional<std::string_view> typ_member(const json::Value& header) {
  if (!header.is_object()) return std::nullopt;
  const json::Value* typ = header.as_object().find("typ");
  if (typ == nullptr || !typ->is_string()) return std::nullopt;
  return std::string_view(typ->as_string());
}

}  // namespace

std::expected<JwsSegments, CryptoError> split_compact_jws(std::string_view token) {
  auto segments = split_compact_token(token, EmptySegments::Refused);
  // Neither the count nor which segment is empty is worth telling apart here.
  if (!segments) return malformed("expected exactly three non-empty segments");
  return *segments;
}

std::expected<CompactJws, CryptoError> CompactJws::decode(std::string_view token) {
  auto segments = split_compact_jws(token);
  if (!segments) return std::unexpected(std::move(segments.error()));
  CompactJws jws;
  jws.text_.assign(token);
  jws.header_len_ = segments->header.size();
  jws.payload_len_ = segments->payload.size();
  jws.header_ = decode_segment(segments->header, "header");
  jws.payload_ = decode_segment(segments->payload, "payload");
  jws.signature_ = decode_segment(segments->signature, "signature");
  if (jws.header_)
    if (auto header = json::parse_text(jws.header_text())) jws.header_json_ = std::move(*header);
  return jws;
}

std::expected<CompactJws, CryptoError> CompactJws::parse(std::string_view token) {
  auto jws = decode(token);
  if (jws) jws->read_payload_value();
  return jws;
}

void CompactJws::read_payload_value() {
  if (!payload_) return;
  if (auto payload = json::parse_text(payload_text())) {
    payload_object_ = payload->value.is_object();
    payload_json_ = std::move(*payload);
  }
}

JwsSegments CompactJws::segments() const {
  const std::string_view text(text_);
  return {text.substr(0, header_len_), text.substr(header_len_ + 1, payload_len_),
          text.substr(header_len_ + payload_len_ + 2)};
}

std::string_view CompactJws::header_text() const {
  return header_ ? as_text(*header_) : std::string_view();
}

std::string_view CompactJws::payload_text() const {
  return payload_ ? as_text(*payload_) : std::string_view();
}

std::optional<std::string_view> CompactJws::typ_hint() const {
  if (!header_json_) return std::nullopt;
  return typ_member(header_json_->value);
}

std::expected<void, CryptoError> verify_compact_jws(const CompactJws& jws, const Aid& signer,
                                                    std::string_view expected_typ) {
  if (!jws.header_bytes()) return std::unexpected(jws.header_bytes().error());
  if (!jws.payload_bytes()) return std::unexpected(jws.payload_bytes().error());
  if (!jws.signature_bytes()) return std::unexpected(jws.signature_bytes().error());

  auto header = json::read_record<JwsHeader>(jws.header_text(), jws.header_json());
  if (!header) return malformed("protected header: " + header.error().full());
  // The type is compared before any key or signature work.
  if (header->typ != expected_typ)
    return std::unexpected(CryptoError::typ_mismatch(std::string(expected_typ), header->typ));
  const std::string_view alg = signer.key_kind() == AidKeyKind::P256 ? kJwsAlgEs256 : kJwsAlgEdDsa;
  if (header->alg != alg)
    return std::unexpected(CryptoError::alg_mismatch("expected " + std::string(alg) +
                                                     " for this AID, got " + header->alg));
  auto key = verifying_key_from_aid(signer);
  if (!key) return std::unexpected(std::move(key.error()));
  // The signing input is the text as received, not a re-encoding.
  if (auto ok = verify_signature_bytes(*key, as_bytes(jws.signing_input()), *jws.signature_bytes());
      !ok)
    return std::unexpected(std::move(ok.error()));
  if (!jws.payload_is_object()) return malformed("payload is not a JSON object");
  return {};
}

std::expected<Bytes, CryptoError> verify_compact_jws(std::string_view token, const Aid& signer,
                                                     std::string_view expected_typ) {
  auto jws = CompactJws::parse(token);
  if (!jws) return std::unexpected(std::move(jws.error()));
  if (auto ok = verify_compact_jws(*jws, signer, expected_typ); !ok)
    return std::unexpected(std::move(ok.error()));
  return *jws->payload_bytes();
}

std::optional<PayloadProblem> find_payload_problem(const CompactJws& jws,
                                                   std::span<const std::string_view> declared) {
  const json::ParsedText* payload = jws.payload_json();
  // A payload read cleanly has nothing for the scan to find; otherwise the scan tells what.
  if (payload == nullptr || payload->repeated_names) {
    if (std::optional<std::string> problem = json::check_duplicate_keys(jws.payload_text()))
      return PayloadProblem{PayloadProblem::Kind::Repeated, std::move(*problem)};
  }
  if (payload == nullptr) return std::nullopt;
  if (auto undeclared = json::find_undeclared_member({}, payload->value, declared))
    return PayloadProblem{PayloadProblem::Kind::Undeclared, std::move(undeclared->name)};
  return std::nullopt;
}

std::expected<Bytes, CryptoError> decode_jws_payload_unverified(std::string_view token) {
  auto segments = split_compact_jws(token);
  if (!segments) return std::unexpected(std::move(segments.error()));
  return decode_segment(segments->payload, "payload");
}

std::optional<std::string> peek_jws_typ(std::string_view token) {
  auto header = b64url_decode(token.substr(0, token.find('.')));
  if (!header) return std::nullopt;
  auto value = json::parse_value(as_text(*header));
  if (!value) return std::nullopt;
  if (std::optional<std::string_view> typ = typ_member(*value)) return std::string(*typ);
  return std::nullopt;
}

std::string_view jws_alg(KeySuite suite) {
  return suite == KeySuite::P256 ? kJwsAlgEs256 : kJwsAlgEdDsa;
}

std::string jws_header_text(KeySuite suite, std::string_view typ) {
  std::string out = R"({"alg":")";
  out += jws_alg(suite);
  out += R"(","typ":")";
  out += typ;
  out += "\"}";
  return out;
}

std::string sign_compact_jws(const SigningKey& key, std::string_view typ, ByteView payload) {
  std::string token;
  token.reserve((payload.size() + 64) * 4 / 3 + 100);
  b64url_encode_append(as_bytes(jws_header_text(key.suite(), typ)), token);
  token += '.';
  b64url_encode_append(payload, token);
  const Signature64 sig = sign_bytes(key, as_bytes(token));
  token += '.';
  b64url_encode_append(sig, token);
  return token;
}

std::expected<std::string, CryptoError> encode_compact_jws(const SigningKey& key,
                                                           std::string_view typ,
                                                           const json::Value& claims) {
  auto payload = json::canonical_json(claims);
  if (!payload) return malformed("claims canonicalization: " + payload.error().message());
  return sign_compact_jws(key, typ, as_bytes(*payload));
}

}  // namespace zelk
