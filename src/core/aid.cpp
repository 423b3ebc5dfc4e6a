#include "core/aid.hpp"

#include "base/invariant.hpp"
#include "formats/base64url.hpp"

namespace zelk {
namespace {

[[nodiscard]] std::unexpected<AidError> bad_length(std::size_t got, std::size_t required) {
  return std::unexpected(AidError{AidError::Kind::BadLength, {}, got, required});
}

[[nodiscard]] std::unexpected<AidError> non_b64() {
  return std::unexpected(AidError{AidError::Kind::NonBase64Url});
}

[[nodiscard]] std::unexpected<AidError> unsupported(std::string_view method) {
  return std::unexpected(AidError{AidError::Kind::UnsupportedMethod, std::string(method)});
}

// Length, alphabet and canonical decoding of the identifier, in that order.
[[nodiscard]] std::expected<Bytes, AidError> check_identifier(std::string_view id,
                                                              std::size_t required,
                                                              std::size_t decoded) {
  if (id.size() != required) return bad_length(id.size(), required);
  if (!is_b64url_alphabet(id)) return non_b64();
  auto bytes = b64url_decode(id);
  if (!bytes || bytes->size() != decoded) return non_b64();
  return std::move(*bytes);
}

Bytes decode_validated(std::string_view id, std::size_t n, const char* what) {
  auto bytes = b64url_decode(id);
  if (!bytes || bytes->size() != n) invariant_failure(what);
  return std::move(*bytes);
}

// The identifier after `prefix`; empty for the placeholder Aid, which then fails the size check
// of decode_validated like any other unvalidated text.
std::string_view identifier_after(std::string_view text, std::string_view prefix) {
  return text.starts_with(prefix) ? text.substr(prefix.size()) : std::string_view();
}

std::string_view ed25519_identifier(const Aid& aid) {
  std::string_view t = aid.text();
  return t.starts_with(kAidEd25519LongPrefix) ? identifier_after(t, kAidEd25519LongPrefix)
                                              : identifier_after(t, kAidEd25519Prefix);
}

}  // namespace

std::string AidError::message() const {
  switch (kind) {
    case Kind::NotAid:
      return "AID does not start with 'aid:'";
    case Kind::UnsupportedMethod:
      return "AID method '" + method + "' is not supported in v0.1; expected 'pubkey'";
    case Kind::BadLength:
      return "AID identifier must be exactly " + std::to_string(required) + " characters; got " +
             std::to_string(got);
    case Kind::NonBase64Url:
      return "AID identifier contains non-base64url characters";
  }
  return {};
}

AidKeyKind Aid::key_kind() const {
  return text_.starts_with(kAidP256Prefix) ? AidKeyKind::P256 : AidKeyKind::Ed25519;
}

std::expected<Aid, AidError> parse_aid_owned(std::string text) {
  std::string_view t = text;
  if (t.starts_with(kAidEd25519LongPrefix)) {
    auto ok = check_identifier(t.substr(kAidEd25519LongPrefix.size()), 43, 32);
    if (!ok) return std::unexpected(std::move(ok.error()));
  } else if (t.starts_with(kAidP256Prefix)) {
    auto ok = check_identifier(t.substr(kAidP256Prefix.size()), 44, 33);
    if (!ok) return std::unexpected(std::move(ok.error()));
    if ((*ok)[0] != 2 && (*ok)[0] != 3) return non_b64();
  } else if (t.starts_with(kAidEd25519Prefix)) {
    std::string_view id = t.substr(kAidEd25519Prefix.size());
    // Under the short prefix a colon separates another method name.
    if (auto colon = id.find(':'); colon != std::string_view::npos)
      return unsupported("pubkey:" + std::string(id.substr(0, colon)));
    auto ok = check_identifier(id, 43, 32);
    if (!ok) return std::unexpected(std::move(ok.error()));
  } else if (t.starts_with("aid:")) {
    std::string_view rest = t.substr(4);
    return unsupported(rest.substr(0, rest.find(':')));
  } else {
    return std::unexpected(AidError{AidError::Kind::NotAid});
  }
  return Aid(std::move(text));
}

std::expected<Aid, AidError> parse_aid(std::string_view text) {
  return parse_aid_owned(std::string(text));
}

std::string aid_from_ed25519_key(ByteView key32) {
  std::string out(kAidEd25519Prefix);
  b64url_encode_append(key32, out);
  return out;
}

std::string aid_from_p256_key(ByteView key33) {
  std::string out(kAidP256Prefix);
  b64url_encode_append(key33, out);
  return out;
}

std::optional<Bytes> aid_ed25519_key_bytes(const Aid& aid) {
  if (aid.key_kind() != AidKeyKind::Ed25519) return std::nullopt;
  return decode_validated(ed25519_identifier(aid), 32,
                          "Aid is validated on construction; identifier MUST decode to 32 bytes");
}

std::optional<Bytes> aid_p256_key_bytes(const Aid& aid) {
  if (aid.key_kind() != AidKeyKind::P256) return std::nullopt;
  return decode_validated(identifier_after(aid.text(), kAidP256Prefix), 33,
                          "Aid is validated on construction; identifier MUST decode to 33 bytes");
}

Bytes aid_public_key_bytes(const Aid& aid) {
  if (aid.key_kind() == AidKeyKind::P256) return *aid_p256_key_bytes(aid);
  return *aid_ed25519_key_bytes(aid);
}

}  // namespace zelk
