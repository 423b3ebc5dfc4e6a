#pragma once

// UTS #46 ToASCII for domains that the ASCII fast path cannot settle, backed by ICU.

#include <string>
#include <string_view>

namespace zelk::url::detail {

enum class IdnaOutcome { ok, failure, empty };

// Appends the ASCII form of `domain` (UTF-8, possibly ill-formed) to `out` with the options the
// URL Standard fixes: non-transitional, CheckBidi and CheckJoiners on, CheckHyphens,
// VerifyDnsLength and UseSTD3ASCIIRules off. On failure `out` is left as it was.
IdnaOutcome domain_to_ascii_unicode(std::string_view domain, std::string& out);

}  // namespace zelk::url::detail
