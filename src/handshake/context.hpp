#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "formats/uuid.hpp"
#include "handshake/handshake_error.hpp"
#include "handshake/identity_proof.hpp"
#include "handshake/jwks.hpp"
#include "handshake/payloads.hpp"
#include "manifest/manifest.hpp"

namespace zelk {

// Decides which grants the peer's TCT carries, given the peer's identity and the requested
// grants that the own Manifest offers. Its answer is used as it stands.
using GrantPolicy = std::function<std::vector<std::string>(const IdentityDescriptor& peer,
                                                           const std::vector<std::string>& grants)>;

// What a caller's status check says about a received TCT.
struct TctStatus {
  enum class Kind : std::uint8_t { Unchanged, Revoked, Restricted };
  Kind kind = Kind::Unchanged;
  std::vector<std::string> grants{};  // Restricted: the grants that still count

  static TctStatus unchanged() { return {Kind::Unchanged}; }
  static TctStatus revoked() { return {Kind::Revoked}; }
  static TctStatus restricted(std::vector<std::string> grants) {
    return {Kind::Restricted, std::move(grants)};
  }
};

// Looks a received TCT up by its issuer and identifier; an error is passed on unchanged.
using TctStatusCheck =
    std::function<std::expected<TctStatus, HandshakeError>(const Aid& iss, const Uuid& jti)>;

// What every handshake step reads, built by the caller for one call and borrowed for it. The
// three hooks are optional; a check that needs an absent hook is skipped.
struct HandshakeContext {
  const SigningKey& signing_key;
  const Manifest& own_manifest;
  const std::vector<std::string>& trust_anchors;
  const JwksResolver& resolver;
  const TrustStore* trust_store = nullptr;
  const GrantPolicy* grant_policy = nullptr;
  const TctStatusCheck* tct_status_check = nullptr;
  std::int64_t now = 0;  // every time test of the call uses this one value
};

}  // namespace zelk
