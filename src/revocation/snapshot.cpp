#include "revocation/snapshot.hpp"

#include <utility>

#include "core/envelope.hpp"
#include "crypto/detached.hpp"
#include "crypto/signature_text.hpp"
#include "revocation/signing_input.hpp"

namespace zelk {

std::expected<RevocationListEnvelope, TctError> sign_revocation_snapshot(RevocationList list,
                                                                         const SigningKey& key) {
  auto bytes = revocation_list_jcs(list);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  RevocationListEnvelope envelope;
  envelope.signature = sign_detached(key, std::string_view(*bytes));
  envelope.revocation_list = std::move(list);
  return envelope;
}

std::expected<void, TctError> verify_revocation_snapshot(const RevocationListEnvelope& envelope,
                                                         std::string_view expected_issuer,
                                                         std::int64_t now) {
  using Kind = TctError::Kind;
  const RevocationList& list = envelope.revocation_list;
  if (list.version != kProtocolVersion)
    return std::unexpected(TctError::of(Kind::UnsupportedVersion));
  if (list.expires_at < now) return std::unexpected(TctError::of(Kind::OutsideValidity));
  if (list.issuer.text() != expected_issuer)
    return std::unexpected(TctError::of(Kind::IssuerMismatch));
  auto key = verifying_key_from_aid(list.issuer);
  if (!key) return std::unexpected(TctError::wrap(std::move(key.error())));
  if (!check_signature_text(envelope.signature))
    return std::unexpected(TctError::of(Kind::SignatureInvalid));
  auto bytes = revocation_list_jcs(list);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (!verify_detached(*key, std::string_view(*bytes), envelope.signature))
    return std::unexpected(TctError::of(Kind::SignatureInvalid));
  return {};
}

}  // namespace zelk
