#pragma once

#include <stdexcept>

namespace zelk {

// A broken internal invariant that no input can cause. It is reported on standard error and
// thrown as this type, which only the Python boundary catches (raising PanicException there).
struct InvariantFailure : std::logic_error {
  using std::logic_error::logic_error;
};

[[noreturn]] void invariant_failure(const char* what);

}  // namespace zelk
