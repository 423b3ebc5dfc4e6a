// Dropping the result of a signature check must not compile. Built with ZELK_KEEP_RESULT the same
// call, its result used, must compile, so a failed build means the dropped result and nothing else.
#include <string_view>

#include "crypto/detached.hpp"

bool check(const zelk::VerifyingKey& key, std::string_view input, std::string_view signature) {
#ifdef ZELK_KEEP_RESULT
  return zelk::verify_detached(key, input, signature).has_value();
#else
  zelk::verify_detached(key, input, signature);
  return true;
#endif
}
