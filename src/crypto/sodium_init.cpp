#include "crypto/sodium_init.hpp"

#include <sodium.h>

#include "base/invariant.hpp"

namespace zelk::crypto_detail {

void ensure_sodium() {
  // A function-local static gives one initialisation even when threads race here.
  static const bool ready = sodium_init() >= 0;
  if (!ready) invariant_failure("libsodium could not be initialised");
}

}  // namespace zelk::crypto_detail
