#include <utility>

#include "formats/json/parse.hpp"
#include "session_bundle/bundle.hpp"

namespace zelk {
namespace {

[[nodiscard]] std::unexpected<SessionBundleError> token_failure(const CryptoError& error) {
  return std::unexpected(
      SessionBundleError::canonicalization("participant tct: " + error.message()));
}

[[nodiscard]] std::unexpected<SessionBundleError> claims_failure(std::string text) {
  return std::unexpected(
      SessionBundleError::canonicalization("participant tct claims: " + std::move(text)));
}

}  // namespace

std::expected<TctClaims, SessionBundleError> decode_participant_tct(const ParsedTct& tct) {
  if (!tct.jws().payload_bytes()) return token_failure(tct.jws().payload_bytes().error());
  if (std::optional<PayloadProblem> problem = tct.claims_problem()) {
    if (problem->kind == PayloadProblem::Kind::Undeclared)
      return std::unexpected(SessionBundleError::unknown_field(std::move(problem->text)));
    return claims_failure(std::move(problem->text));
  }
  return *tct.claims();
}

std::expected<ParsedTct, SessionBundleError> parse_participant_tct(std::string_view tct) {
  auto parsed = ParsedTct::parse(tct);
  if (!parsed) return token_failure(parsed.error());
  return std::move(*parsed);
}

std::expected<TctClaims, SessionBundleError> decode_participant_tct(std::string_view tct) {
  auto parsed = parse_participant_tct(tct);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  return decode_participant_tct(*parsed);
}

}  // namespace zelk
