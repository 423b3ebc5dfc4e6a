// ZelkAgent's constructors: an agent from a fresh random key or from a 32-byte seed.
#include <string>

#include "python/agent.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

constexpr Signature kGenerate{"ZelkAgent", "generate", 0, {"suite"}};
constexpr Signature kFromSeed{"ZelkAgent", "from_seed", 1, {"seed", "suite"}};
constexpr std::string_view kDefaultSuite = "ed25519";
constexpr std::size_t kSeedLength = 32;

[[nodiscard]] Result<KeySuite> parse_suite(std::string_view name) {
  if (auto suite = key_suite_from_name(name)) return *suite;
  return fail(PyError::value_error("unknown suite '" + std::string(name) +
                                   "': expected 'ed25519' or 'p256'"));
}

[[nodiscard]] Result<OwnedRef> make_agent(SigningKey key) {
  return wrap_agent(Agent{std::make_shared<const SigningKey>(std::move(key))});
}

[[nodiscard]] Result<OwnedRef> generate(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kGenerate, call));
  ZELK_PY_TRY(std::string_view suite_name, arg_or(args, 0, to_text, kDefaultSuite));
  ZELK_PY_TRY(KeySuite suite, parse_suite(suite_name));
  auto key = generate_key(suite);
  // The random source failing is the platform's fault, not the caller's.
  if (!key) return fail(PyError::panic(key.error().message()));
  return make_agent(std::move(*key));
}

[[nodiscard]] Result<OwnedRef> from_seed(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kFromSeed, call));
  ZELK_PY_TRY(ByteView seed, arg(args, 0, to_bytes));
  ZELK_PY_TRY(std::string_view suite_name, arg_or(args, 1, to_text, kDefaultSuite));
  // The length is checked before the suite name, so it is reported whatever the suite.
  if (seed.size() != kSeedLength)
    return fail(PyError::value_error("seed must be exactly 32 bytes"));
  ZELK_PY_TRY(KeySuite suite, parse_suite(suite_name));
  const std::span<const std::uint8_t, kSeedLength> seed32(seed.data(), kSeedLength);
  if (suite == KeySuite::Ed25519) return make_agent(SigningKey::ed25519_from_seed(seed32));
  auto key = SigningKey::p256_from_scalar(seed32);
  if (!key) return fail(PyError::value_error("invalid P-256 seed: " + key.error().message()));
  return make_agent(std::move(*key));
}

}  // namespace

PyMethodDef agent_generate_method() {
  return static_method<generate>(
      "generate",
      "generate(suite=\"ed25519\")\n--\n\n"
      "A new agent with a fresh random key; `suite` is \"ed25519\" or \"p256\".");
}

PyMethodDef agent_from_seed_method() {
  return static_method<from_seed>(
      "from_seed",
      "from_seed(seed, suite=\"ed25519\")\n--\n\n"
      "An agent whose key is derived from the 32-byte `seed` alone: the same seed and suite\n"
      "always give the same key and AID. For \"p256\" the seed is the big-endian secret scalar.");
}

}  // namespace zelk::py
