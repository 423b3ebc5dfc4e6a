#pragma once

#include <string>
#include <utility>

namespace zelk {

// Each token kind's verifier specialises this with a static `make`, in its own source file; no
// other code may, so only a verifier can vouch for claims.
template <typename Claims>
struct VerifierOf;

// The claims of a token that passed its verifier, with the token as presented. Claims read
// without a signature check keep their plain type, so code that needs a verified token says so
// in its signature and cannot be handed anything else.
template <typename Claims>
class Verified {
 public:
  const std::string& token() const { return token_; }
  const Claims& claims() const { return claims_; }
  Claims take_claims() && { return std::move(claims_); }

 private:
  friend struct VerifierOf<Claims>;
  Verified(std::string token, Claims claims)
      : token_(std::move(token)), claims_(std::move(claims)) {}

  std::string token_;  // byte for byte as presented
  Claims claims_;
};

}  // namespace zelk
