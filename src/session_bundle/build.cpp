#include "session_bundle/build.hpp"

#include <algorithm>
#include <utility>

#include "base/clock.hpp"
#include "core/envelope.hpp"
#include "crypto/detached.hpp"
#include "crypto/random.hpp"

namespace zelk {

std::expected<std::string, SessionBundleError> build_session_bundle(
    const SigningKey& coordinator, std::optional<Uuid> session_id,
    std::optional<std::int64_t> issued_at, std::span<const ParticipantEntry> participants) {
  using Kind = SessionBundleError::Kind;
  if (participants.empty()) return std::unexpected(SessionBundleError::of(Kind::EmptyParticipants));

  SessionTrustBundle bundle;
  bundle.version = std::string(kProtocolVersion);
  bundle.coordinator = coordinator.aid();
  bundle.session_id = fresh_uuid_or_invariant(session_id);
  bundle.issued_at = now_or_invariant(issued_at, kClockFailedText);

  for (std::size_t i = 0; i < participants.size(); ++i) {
    const ParticipantEntry& entry = participants[i];
    auto claims = decode_participant_tct(entry.tct);
    if (!claims) return std::unexpected(std::move(claims.error()));
    if (claims->iss.text() != bundle.coordinator.text())
      return std::unexpected(SessionBundleError::of(Kind::IssuerMismatch));
    if (claims->aud.text() != entry.aid.text())
      return std::unexpected(SessionBundleError::of(Kind::AudienceMismatch));
    bundle.expires_at = i == 0 ? claims->exp : std::min(bundle.expires_at, claims->exp);
  }
  bundle.participants.assign(participants.begin(), participants.end());

  auto signing_input = bundle_signing_bytes(bundle);
  if (!signing_input) return std::unexpected(std::move(signing_input.error()));
  bundle.signature = sign_detached(coordinator, std::string_view(*signing_input));
  return encode_session_bundle_envelope(bundle);
}

}  // namespace zelk
