// Dropping the result of a random draw must not compile. Built with ZELK_KEEP_RESULT the same
// call, its result used, must compile, so a failed build means the dropped result and nothing else.
#include <cstdint>
#include <span>

#include "crypto/random.hpp"

bool draw(std::span<std::uint8_t> out) {
#ifdef ZELK_KEEP_RESULT
  return zelk::random_bytes(out).has_value();
#else
  zelk::random_bytes(out);
  return true;
#endif
}
