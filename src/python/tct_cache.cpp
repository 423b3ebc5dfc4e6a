// The TCT verification cache: a repeated token skips signature checking and decoding, while the
// checks that depend on the call (revocation, audience, expiry, grant) run every time.
#include "python/tct_cache.hpp"

#include <algorithm>
#include <utility>

#include "python/clock.hpp"
#include "python/tct_verify.hpp"

namespace zelk::py {
namespace {

// What a lookup takes out of the store: the result to hand back, and the audience test, made
// while the entry is at hand so that its text need not be copied out.
struct Found {
  TctIdentity identity;
  bool same_audience = false;
};

[[nodiscard]] bool policy_still_holds(const Found& found, std::string_view required_grant,
                                      const RevokedJtiSet* revoked, std::int64_t now) {
  const TctIdentity& id = found.identity;
  if (revoked != nullptr && revoked->contains(id.jti)) return false;
  if (!found.same_audience) return false;
  if (id.expires_at <= now) return false;
  return std::find(id.grants.begin(), id.grants.end(), required_grant) != id.grants.end();
}

}  // namespace

Result<TctIdentity> tct_store_verify(const Agent& agent, std::string_view token,
                                     std::string_view required_grant, const TctStore& store,
                                     std::optional<std::string_view> expected_audience,
                                     const RevokedJtiSet* revoked) {
  const Sha256Digest key = sha256(token);
  // The hit test compares the audience text as passed; only the full path parses it.
  const std::string_view audience =
      expected_audience ? *expected_audience : std::string_view(agent.key->aid_text());

  std::optional<Found> found;
  {
    ZELK_PY_TRY(auto cache, store.cache.lock(kTctStoreLockName));
    if (!cache->entries.empty()) {
      auto it = cache->entries.find(key);
      if (it != cache->entries.end()) {
        const CachedTct& entry = it->second;
        found.emplace(Found{
            .identity = {.peer_aid = entry.peer_aid,
                         .grants = entry.grants,
                         .expires_at = entry.expires_at,
                         .jti = entry.jti},
            .same_audience = entry.aud == audience,
        });
      }
    }
  }

  if (found) {
    ZELK_PY_TRY(std::int64_t now, system_now_secs());
    // A hit leaves the store alone: the entry is neither moved nor refreshed.
    if (policy_still_holds(*found, required_grant, revoked, now)) return std::move(found->identity);
  }

  std::string aud;
  ZELK_PY_TRY(TctIdentity verified,
              verify_tct_and_grant(agent, token, required_grant, expected_audience, revoked, &aud));
  // `aud` is the one the verified claims hold.
  CachedTct entry{.peer_aid = verified.peer_aid,
                  .grants = verified.grants,
                  .jti = verified.jti,
                  .aud = std::move(aud),
                  .expires_at = verified.expires_at};
  {
    ZELK_PY_TRY(auto cache, store.cache.lock(kTctStoreLockName));
    auto [it, inserted] = cache->entries.try_emplace(key);
    it->second = std::move(entry);  // an entry of the same token keeps its place in the queue
    if (inserted) {
      cache->order.push_back(key);
      while (cache->entries.size() > store.max_entries && !cache->order.empty()) {
        cache->entries.erase(cache->order.front());
        cache->order.pop_front();
      }
    }
  }
  return verified;
}

}  // namespace zelk::py
