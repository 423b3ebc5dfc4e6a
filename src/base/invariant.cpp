#include "base/invariant.hpp"

#include <cstdio>

namespace zelk {

void invariant_failure(const char* what) {
  std::fprintf(stderr, "zelk: internal invariant failure: %s\n", what);
  throw InvariantFailure(what);
}

}  // namespace zelk
