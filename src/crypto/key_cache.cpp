#include "crypto/key_cache.hpp"

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zelk::crypto_detail {
namespace {

constexpr std::size_t kCapacity = 256;

struct TransparentHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

class KeyCache {
 public:
  std::optional<VerifyingKey> find(std::string_view aid_text) {
    std::lock_guard lock(mutex_);
    auto it = keys_.find(aid_text);
    if (it == keys_.end()) return std::nullopt;
    return it->second.key;
  }

  std::optional<std::string> find_thumbprint(std::string_view aid_text) {
    std::lock_guard lock(mutex_);
    auto it = keys_.find(aid_text);
    if (it == keys_.end() || it->second.jkt.empty()) return std::nullopt;
    return it->second.jkt;
  }

  // Only for a key still held: an evicted one is derived again, thumbprint and all.
  void set_thumbprint(std::string_view aid_text, const std::string& jkt) {
    std::lock_guard lock(mutex_);
    auto it = keys_.find(aid_text);
    if (it != keys_.end()) it->second.jkt = jkt;
  }

  void insert(std::string_view aid_text, const VerifyingKey& key) {
    std::lock_guard lock(mutex_);
    if (keys_.contains(aid_text)) return;
    std::string& slot = order_[next_];
    if (!slot.empty()) keys_.erase(slot);
    slot.assign(aid_text);
    keys_.emplace(slot, Entry{key, {}});
    next_ = (next_ + 1) % kCapacity;
  }

 private:
  struct Entry {
    VerifyingKey key;
    std::string jkt;  // empty until first asked for
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Entry, TransparentHash, std::equal_to<>> keys_;
  std::array<std::string, kCapacity> order_;  // insertion ring: the oldest entry is evicted
  std::size_t next_ = 0;
};

KeyCache& cache() {
  static KeyCache* instance = new KeyCache();  // never destroyed: usable until process exit
  return *instance;
}

}  // namespace

std::optional<VerifyingKey> cached_verifying_key(std::string_view aid_text) {
  return cache().find(aid_text);
}

void remember_verifying_key(std::string_view aid_text, const VerifyingKey& key) {
  cache().insert(aid_text, key);
}

std::optional<std::string> cached_thumbprint(std::string_view aid_text) {
  return cache().find_thumbprint(aid_text);
}

void remember_thumbprint(std::string_view aid_text, const std::string& jkt) {
  cache().set_thumbprint(aid_text, jkt);
}

}  // namespace zelk::crypto_detail
