#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "python/runtime/object.hpp"
#include "python/runtime/python.hpp"

namespace zelk::py {

using SpkiPin = std::array<std::uint8_t, 32>;

// The value of a SpkiPinVerifier: its pins, fixed at construction, in the order given.
struct SpkiPinVerifier {
  std::vector<SpkiPin> pins;
};

using SpkiPinVerifierCell = Cell<SpkiPinVerifier>;

PyClass& spki_pin_verifier_class();
PyMethodDef& compute_spki_hash_function();

}  // namespace zelk::py
