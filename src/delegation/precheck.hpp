#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/jws.hpp"
#include "delegation/delegation_error.hpp"
#include "formats/json/record.hpp"

namespace zelk {

// The claims of a token read before any signature check, refused the way the delegation readers
// refuse them, in this order: a payload that does not decode, a member repeated at any depth
// ("delegation claims malformed: " + the scan's text), an undeclared top-level member ("unknown
// field: " + name), and last the strict reader's own error (an unknown member it names, else
// "delegation claims malformed: " + `read_prefix` + its message). On success the token's claims
// are good to read.
template <json::Record Claims>
[[nodiscard]] std::expected<void, DelegationError> check_token_claims(
    const ParsedToken<Claims>& token, std::string_view read_prefix = "") {
  const CompactJws& jws = token.jws();
  if (!jws.payload_bytes())
    return std::unexpected(DelegationError::wrap(jws.payload_bytes().error()));
  std::optional<PayloadProblem> problem = token.claims_problem();
  if (!problem) return {};
  switch (problem->kind) {
    case PayloadProblem::Kind::Undeclared:
      return std::unexpected(DelegationError::unknown_field(std::move(problem->text)));
    case PayloadProblem::Kind::Repeated:
      return std::unexpected(DelegationError::claims_malformed(std::move(problem->text)));
    case PayloadProblem::Kind::Unreadable:
      break;
  }
  std::string text(read_prefix);
  text += problem->text;
  return std::unexpected(DelegationError::claims_malformed(std::move(text)));
}

}  // namespace zelk
