#include "formats/json/name_hash.hpp"

#include <chrono>
#include <cstdint>
#include <random>

namespace zelk::json {
namespace {

struct Key {
  std::uint64_t k0;
  std::uint64_t k1;
};

Key make_key() {
  Key key{0, 0};
  try {
    std::random_device device;
    key.k0 ^= (std::uint64_t{device()} << 32) | device();
    key.k1 ^= (std::uint64_t{device()} << 32) | device();
  } catch (...) {
    // No entropy source: the clock and an address still differ from run to run.
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.k0 ^= now;
    key.k1 ^= reinterpret_cast<std::uintptr_t>(&key) * 0x9E3779B97F4A7C15ULL;
  }
  return key;
}

constexpr std::uint64_t rotl(std::uint64_t x, int b) {
  return (x << b) | (x >> (64 - b));
}

struct State {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t m = 0;
  for (int i = 7; i >= 0; --i) m = (m << 8) | p[i];
  return m;
}

}  // namespace

std::size_t hash_member_name(std::string_view name) {
  static const Key key = make_key();
  State s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL,
          key.k0 ^ 0x6c7967656e657261ULL, key.k1 ^ 0x7465646279746573ULL};
  const auto* p = reinterpret_cast<const unsigned char*>(name.data());
  const std::size_t size = name.size();
  std::size_t i = 0;
  for (; size - i >= 8; i += 8) s.absorb(load_le64(p + i));
  std::uint64_t last = static_cast<std::uint64_t>(size & 0xFF) << 56;
  for (std::size_t j = 0; i + j < size; ++j) last |= std::uint64_t{p[i + j]} << (8 * j);
  s.absorb(last);
  s.v2 ^= 0xFF;
  s.round();
  s.round();
  s.round();
  return static_cast<std::size_t>(s.v0 ^ s.v1 ^ s.v2 ^ s.v3);
}

}  // namespace zelk::json
