#include "crypto/jws.hpp"

#include "formats/base64url.hpp"
#include "formats/json/canonical.hpp"
#include "formats/json/parse.hpp"

namespace zelk {
namespace {

std::unexpected<CryptoError> malformed(std::string text) {
  return std::unexpected(CryptoError::malformed(std::move(text)));
}

std::expected<Bytes, CryptoError> decode_segment(std::string_view segment, const char* what) {
  auto bytes = b64url_decode(segment);
  if (!bytes)
    return malformed(std::string(what) + " segment: " + std::string(bytes.error().message()));
  return std::move(*bytes);
}

}  // namespace

std::expected<JwsSegments, CryptoError> split_compact_jws(std::string_view token) {
  const std::size_t first = token.find('.');
  const std::size_t second =
      first == std::string_view::npos ? std::string_view::npos : token.find('.', first + 1);
  if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
    return malformed("expected exactly three non-empty segments");
  JwsSegments s{token.substr(0, first), token.substr(first + 1, second - first - 1),
                token.substr(second + 1)};
  if (s.header.empty() || s.payload.empty() || s.signature.empty())
    return malformed("expected exactly three non-empty segments");
  return s;
}

std::expected<Bytes, CryptoError> verify_compact_jws(std::string_view token, const Aid& signer,
                                                     std::string_view expected_typ) {
  auto segments = split_compact_jws(token);
  if (!segments) return std::unexpected(std::move(segments.error()));
  auto header_bytes = decode_segment(segments->header, "header");
  if (!header_bytes) return std::unexpected(std::move(header_bytes.error()));
  auto payload = decode_segment(segments->payload, "payload");
  if (!payload) return std::unexpected(std::move(payload.error()));
  auto signature = decode_segment(segments->signature, "signature");
  if (!signature) return std::unexpected(std::move(signature.error()));

  auto header = json::read_record<JwsHeader>(as_text(*header_bytes));
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
  const std::size_t input_len = segments->header.size() + 1 + segments->payload.size();
  if (auto ok = verify_signature_bytes(*key, as_bytes(token.substr(0, input_len)), *signature); !ok)
    return std::unexpected(std::move(ok.error()));
  auto value = json::parse_value(as_text(*payload));
  if (!value || !value->is_object()) return malformed("payload is not a JSON object");
  return std::move(*payload);
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
  if (!value || !value->is_object()) return std::nullopt;
  json::Value* typ = value->as_object().find("typ");
  if (typ == nullptr || !typ->is_string()) return std::nullopt;
  return std::move(typ->as_string());
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
