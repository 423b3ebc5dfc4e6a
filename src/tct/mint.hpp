#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "formats/uuid.hpp"
#include "tct/claims.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

inline constexpr std::int64_t kDefaultTctTtlSecs = 3600;

// What an issuer asks for. The signer is borrowed and must outlive the record.
struct TctIssueParams {
  std::reference_wrapper<const SigningKey> signer;
  std::optional<Aid> subject{};
  std::optional<Aid> audience{};
  std::optional<VerifyingKey> subject_pubkey{};
  std::vector<std::string> grants{};
  std::int64_t ttl_secs = kDefaultTctTtlSecs;
  std::optional<std::int64_t> iat{};  // absent: the system clock
  std::optional<Uuid> jti{};          // absent: a fresh version-4 UUID
  bool with_voucher = true;
};

struct MintedTct {
  std::string tct;
  TctClaims claims;
  std::optional<std::string> grant_voucher;  // present when with_voucher was set
};

// The defaults: no subject, audience or key, no grants, 3600 seconds, clock and fresh jti,
// voucher on.
[[nodiscard]] TctIssueParams new_tct_issue_params(const SigningKey& signer);

TctIssueParams set_issue_grants(TctIssueParams params, std::vector<std::string> grants);

// Checks the parameters (presence of subject, audience and subject key; non-empty grants free of
// white space; audience equal to subject; the key named by the subject), then signs the TCT and,
// when asked, its grant voucher. A clock or random-source failure is an invariant failure.
[[nodiscard]] std::expected<MintedTct, TctError> mint_tct(TctIssueParams params);

}  // namespace zelk
