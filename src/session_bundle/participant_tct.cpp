#include <utility>

#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"
#include "session_bundle/bundle.hpp"

namespace zelk {
namespace {

std::unexpected<SessionBundleError> token_failure(const CryptoError& error) {
  return std::unexpected(
      SessionBundleError::canonicalization("participant tct: " + error.message()));
}

std::unexpected<SessionBundleError> claims_failure(std::string text) {
  return std::unexpected(
      SessionBundleError::canonicalization("participant tct claims: " + std::move(text)));
}

}  // namespace

std::expected<TctClaims, SessionBundleError> decode_participant_tct(const CompactJws& tct) {
  if (!tct.payload_bytes()) return token_failure(tct.payload_bytes().error());
  const json::ParsedText* payload = tct.payload_json();
  // A payload read cleanly has nothing for the scan to find; otherwise the scan tells what.
  if (payload == nullptr || payload->repeated_names) {
    if (std::optional<std::string> problem = json::check_duplicate_keys(tct.payload_text()))
      return claims_failure(std::move(*problem));
  }
  // A payload that does not parse is left to the strict read below, which words the refusal.
  if (payload != nullptr) {
    if (auto undeclared =
            json::find_undeclared_member(kTctClaimsName, payload->value, kTctClaimNames))
      return std::unexpected(SessionBundleError::unknown_field(std::move(undeclared->name)));
  }
  auto claims = read_claims<TctClaims>(tct);
  if (!claims) {
    if (std::optional<std::string> name = json::unknown_field_name(claims.error()))
      return std::unexpected(SessionBundleError::unknown_field(std::move(*name)));
    return claims_failure(claims.error().full());
  }
  return std::move(*claims);
}

std::expected<CompactJws, SessionBundleError> parse_participant_tct(std::string_view tct) {
  auto parsed = CompactJws::parse(tct);
  if (!parsed) return token_failure(parsed.error());
  return std::move(*parsed);
}

std::expected<TctClaims, SessionBundleError> decode_participant_tct(std::string_view tct) {
  auto parsed = parse_participant_tct(tct);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  return decode_participant_tct(*parsed);
}

}  // namespace zelk
