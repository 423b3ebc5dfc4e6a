#pragma once

#include "python/runtime/python.hpp"

namespace zelk::py {

// Holds the interpreter lock for its scope, taking it only when this thread lacks it: for code
// that calls into Python from a place the lock's holder cannot be known.
class GilScope {
 public:
  GilScope() : state_(PyGILState_Ensure()) {}
  GilScope(const GilScope&) = delete;
  GilScope& operator=(const GilScope&) = delete;
  ~GilScope() { PyGILState_Release(state_); }

 private:
  PyGILState_STATE state_;
};

}  // namespace zelk::py
