#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python/agent.hpp"
#include "python/results.hpp"
#include "python/runtime/error.hpp"
#include "tct/claims.hpp"
#include "tct/revocation_check.hpp"
#include "tct/verify.hpp"

namespace zelk::py {

// A presented TCT taken apart and its claims read strictly, once, without any signature check.
// ValueError "malformed TCT compact JWS: ..." when the token does not split or its payload does
// not decode, "invalid TCT claims: ..." when the payload is not a TctClaims record.
[[nodiscard]] Result<ParsedTct> parse_tct(std::string_view token);

// Full verification of a presented TCT against the system clock, addressed to
// `expected_audience` (parsed as an AID) or by default to the agent itself, with the issuer taken
// from the token's own `iss`; then `required_grant` must be among its grants. `revoked`, when
// given (also empty), is consulted last. When `aud_out` is given it receives the verified `aud`.
[[nodiscard]] Result<TctIdentity> verify_tct_and_grant(
    const Agent& agent, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::string* aud_out = nullptr);

// "TCT does not grant '<grant>'; grants: [\"a\", \"b\"]", each held grant quoted and escaped.
std::string missing_grant_message(std::string_view required_grant,
                                  std::span<const std::string> grants);

}  // namespace zelk::py
