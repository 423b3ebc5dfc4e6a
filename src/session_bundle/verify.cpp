#include "session_bundle/verify.hpp"

#include <algorithm>
#include <utility>

#include "core/envelope.hpp"
#include "crypto/detached.hpp"
#include "crypto/jws.hpp"
#include "crypto/keys.hpp"
#include "tct/verify.hpp"

namespace zelk {
namespace {

using Kind = SessionBundleError::Kind;

[[nodiscard]] std::unexpected<SessionBundleError> fail(Kind kind) {
  return std::unexpected(SessionBundleError::of(kind));
}

// The two TCT refusals that name a bundle fault of their own; every other one is carried.
[[nodiscard]] SessionBundleError participant_failure(TctError error) {
  switch (error.kind) {
    case TctError::Kind::IssuerMismatch:
      return SessionBundleError::of(Kind::IssuerMismatch);
    case TctError::Kind::AudienceMismatch:
      return SessionBundleError::of(Kind::AudienceMismatch);
    default:
      return SessionBundleError::participant_tct(std::move(error));
  }
}

}  // namespace

bool find_participant(std::span<const ParticipantEntry> participants, const Aid& verifier) {
  return std::ranges::any_of(participants, [&](const ParticipantEntry& entry) {
    return entry.aid.text() == verifier.text();
  });
}

std::expected<BundleVerification, SessionBundleError> verify_bundle(
    const SessionTrustBundle& bundle, const Aid& verifier, std::int64_t now,
    const RevocationCheck* revocation) {
  if (bundle.version != kProtocolVersion) return fail(Kind::VersionMismatch);
  if (bundle.expires_at < now) return fail(Kind::Expired);
  if (bundle.participants.empty()) return fail(Kind::EmptyParticipants);

  // Each token is taken apart once, here; its signature is checked from the same form below.
  std::vector<ParsedTct> tokens;
  tokens.reserve(bundle.participants.size());
  std::int64_t least_exp = 0;
  for (std::size_t i = 0; i < bundle.participants.size(); ++i) {
    auto parsed = parse_participant_tct(bundle.participants[i].tct);
    if (!parsed) return std::unexpected(std::move(parsed.error()));
    auto claims = decode_participant_tct(*parsed);
    if (!claims) return std::unexpected(std::move(claims.error()));
    least_exp = i == 0 ? claims->exp : std::min(least_exp, claims->exp);
    tokens.push_back(std::move(*parsed));
  }
  if (least_exp != bundle.expires_at) return fail(Kind::ExpiryMismatch);
  if (!find_participant(bundle.participants, verifier)) return fail(Kind::NotAMember);

  auto key = verifying_key_from_aid(bundle.coordinator);
  if (!key) return std::unexpected(SessionBundleError::wrap(std::move(key.error())));
  auto signing_input = bundle_signing_bytes(bundle);
  if (!signing_input) return std::unexpected(std::move(signing_input.error()));
  if (!verify_detached(*key, std::string_view(*signing_input), bundle.signature))
    return fail(Kind::SignatureInvalid);

  const bool with_check = revocation != nullptr && *revocation;
  BundleVerification result;
  std::vector<std::string> dropped;
  for (std::size_t i = 0; i < bundle.participants.size(); ++i) {
    const ParticipantEntry& entry = bundle.participants[i];
    const TctVerifyOptions options{
        .issuer = bundle.coordinator, .expected_audience = entry.aid, .now = now};
    auto verified = verify_tct_jws(tokens[i], options);
    if (!verified) return std::unexpected(participant_failure(std::move(verified.error())));
    if (with_check && (*revocation)(verified->claims().jti))
      dropped.push_back(entry.aid.text());
    else
      result.active_aids.push_back(entry.aid.text());
  }
  if (!dropped.empty()) result.dropped_aids = std::move(dropped);
  return result;
}

}  // namespace zelk
