#include "crypto/detached.hpp"

#include <utility>

#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"

namespace zelk {

std::expected<std::string, json::CanonicalJsonError> body_signing_bytes(json::Value body) {
  if (!body.is_object() || body.as_object().find("signature") == nullptr)
    return json::canonical_json(body);
  json::Object covered;
  for (json::Member& member : body.as_object()) {
    if (member.name == "signature") continue;
    // `body` is ours and discarded afterwards, so its members may be moved out.
    covered.push_back_unchecked(std::move(member.name), std::move(member.value));
  }
  return json::canonical_json(json::Value(std::move(covered)));
}

std::string sign_detached(const SigningKey& key, ByteView signing_input) {
  return sign_digest_text(key, sha256(signing_input));
}

std::expected<void, CryptoError> verify_detached(const VerifyingKey& key, ByteView signing_input,
                                                 std::string_view signature_text) {
  if (auto syntax = check_signature_text(signature_text); !syntax)
    return std::unexpected(std::move(syntax.error()));
  return verify_digest_text(key, sha256(signing_input), signature_text);
}

}  // namespace zelk
