#include <utility>

#include "crypto/jws.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"
#include "session_bundle/bundle.hpp"

namespace zelk {

std::expected<TctClaims, SessionBundleError> decode_participant_tct(std::string_view tct) {
  auto payload = decode_jws_payload_unverified(tct);
  if (!payload)
    return std::unexpected(
        SessionBundleError::canonicalization("participant tct: " + payload.error().message()));
  const std::string_view text = as_text(*payload);

  if (std::optional<std::string> problem = json::check_duplicate_keys(text))
    return std::unexpected(
        SessionBundleError::canonicalization("participant tct claims: " + *problem));
  // A payload that does not parse is left to the strict read below, which words the refusal.
  if (auto value = json::parse_value(text)) {
    if (auto undeclared = json::find_undeclared_member(kTctClaimsName, *value, kTctClaimNames))
      return std::unexpected(SessionBundleError::unknown_field(std::move(undeclared->name)));
  }

  auto claims = read_tct_claims(text);
  if (!claims) {
    if (std::optional<std::string> name = json::unknown_field_name(claims.error()))
      return std::unexpected(SessionBundleError::unknown_field(std::move(*name)));
    return std::unexpected(
        SessionBundleError::canonicalization("participant tct claims: " + claims.error().full()));
  }
  return std::move(*claims);
}

}  // namespace zelk
