#pragma once

#include "formats/invariant.hpp"

namespace zelk::crypto_detail {

using zelk::invariant_failure;

}  // namespace zelk::crypto_detail
