#include "crypto/signature_text.hpp"

#include "formats/base64url.hpp"

namespace zelk {
namespace {

constexpr std::size_t kSignatureChars = 86;

[[nodiscard]] std::unexpected<CryptoError> refused() {
  return std::unexpected(CryptoError::verification());
}

}  // namespace

std::string sign_digest_text(const SigningKey& key, Digest32 digest) {
  const Signature64 sig = sign_bytes(key, digest);
  std::string out;
  out.reserve(kP256SignaturePrefix.size() + kSignatureChars);
  if (key.suite() == KeySuite::P256) out += kP256SignaturePrefix;
  b64url_encode_append(sig, out);
  return out;
}

std::expected<void, CryptoError> check_signature_chars(std::string_view text) {
  if (text.size() != kSignatureChars)
    return std::unexpected(
        CryptoError::signature_parse("expected " + std::to_string(kSignatureChars) +
                                     " payload characters, got " + std::to_string(text.size())));
  if (!is_b64url_alphabet(text))
    return std::unexpected(CryptoError::signature_parse("non-base64url character"));
  return {};
}

std::expected<std::string, CryptoError> check_signature_text(std::string_view text) {
  if (text.find('=') != std::string_view::npos)
    return std::unexpected(CryptoError::signature_parse("padding is forbidden"));
  std::string_view body = text;
  if (body.starts_with(kEd25519SignaturePrefix))
    body.remove_prefix(kEd25519SignaturePrefix.size());
  else if (body.starts_with(kP256SignaturePrefix))
    body.remove_prefix(kP256SignaturePrefix.size());
  if (auto ok = check_signature_chars(body); !ok) return std::unexpected(std::move(ok.error()));
  return std::string(text);
}

std::expected<void, CryptoError> verify_digest_text(const VerifyingKey& key, Digest32 digest,
                                                    std::string_view text) {
  std::string_view body = text;
  if (key.suite() == KeySuite::P256) {
    if (!body.starts_with(kP256SignaturePrefix)) return refused();
    body.remove_prefix(kP256SignaturePrefix.size());
  } else if (body.starts_with(kEd25519SignaturePrefix)) {
    body.remove_prefix(kEd25519SignaturePrefix.size());
  } else if (body.starts_with(kP256SignaturePrefix)) {
    return refused();
  }
  auto sig = b64url_decode(body);
  if (!sig || sig->size() != 64) return refused();
  return verify_signature_bytes(key, digest, *sig);
}

}  // namespace zelk
