#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "crypto/jwk.hpp"
#include "handshake/jwks.hpp"
#include "python/poison_lock.hpp"
#include "python/runtime/object.hpp"

namespace zelk::py {

// An issuer's keys by the serialisation of its parsed URL.
using IssuerKeyMap = std::unordered_map<std::string, std::vector<Jwk>>;

// The key map of a JwksProvider, shared with every session made with it, so later changes reach
// those sessions. The lock is held only while the map is read or written, never while Python code
// runs.
class JwksState final : public JwksResolver {
 public:
  // A copy of the issuer's keys; an issuer without keys is not trusted.
  [[nodiscard]] std::expected<std::vector<Jwk>, JwksResolverError> resolve(
      const url::Url& issuer) const override;

  mutable PoisonLock<IssuerKeyMap> map;
};

// The value of a JwksProvider; every method borrows it shared.
struct JwksProvider {
  std::shared_ptr<JwksState> state;
};

using JwksProviderCell = Cell<JwksProvider>;

PyClass& jwks_provider_class();

[[nodiscard]] inline Result<BorrowedRef> to_jwks_provider(BorrowedRef obj) {
  return to_instance(obj, jwks_provider_class());
}

}  // namespace zelk::py
