#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "crypto/sha256.hpp"
#include "python/agent.hpp"
#include "python/poison_lock.hpp"
#include "python/results.hpp"
#include "python/runtime/object.hpp"
#include "tct/revocation_check.hpp"

namespace zelk::py {

// One successful verification, as a later identical token reuses it.
struct CachedTct {
  std::string peer_aid;
  std::vector<std::string> grants;
  std::string jti;  // lower-case hyphenated
  std::string aud;  // the audience the verification held the token to
  std::int64_t expires_at = 0;
};

// The key is already a uniform hash of the token text; its first word is a good bucket index.
struct TokenDigestHash {
  std::size_t operator()(const Sha256Digest& digest) const noexcept {
    std::size_t h = 0;
    std::memcpy(&h, digest.data(), sizeof h);
    return h;
  }
};

struct TctCache {
  std::unordered_map<Sha256Digest, CachedTct, TokenDigestHash> entries;
  std::deque<Sha256Digest> order;  // insertion order, oldest first; each key of `entries` once
};

// The value of a TctStore: a bounded first-in first-out cache of verified TCTs keyed by the
// SHA-256 of the token text. Borrowed shared by every operation; the lock guards the maps.
struct TctStore {
  std::uint64_t max_entries = 1;  // at least 1
  mutable PoisonLock<TctCache> cache;
};

using TctStoreCell = Cell<TctStore>;

PyClass& tct_store_class();

[[nodiscard]] inline Result<BorrowedRef> to_tct_store(BorrowedRef obj) {
  return to_instance(obj, tct_store_class());
}

// The lock's name in the message of its poisoned state.
inline constexpr std::string_view kTctStoreLockName = "tct store mutex";

// Verification through the store: a byte-identical token verified before is a hit when its jti
// is not revoked, it was held to the same audience text, it has not expired and it carries the
// grant; anything else is verified in full and, on success, stored (replacing an entry of the
// same token in place, evicting the oldest beyond max_entries).
[[nodiscard]] Result<TctIdentity> tct_store_verify(
    const Agent& agent, std::string_view token, std::string_view required_grant,
    const TctStore& store, std::optional<std::string_view> expected_audience,
    const RevokedJtiSet* revoked);

}  // namespace zelk::py
