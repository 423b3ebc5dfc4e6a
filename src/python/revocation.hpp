#pragma once

#include <string>
#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/exception_type.hpp"

namespace zelk::py {

// zelk.RevocationVerificationError, derived from RuntimeError.
ExceptionType& revocation_verification_error();

// The error for a revocation list that failed verification: `message` as its one argument and
// `code` as its instance attribute.
PyError raise_revocation_error(std::string code, std::string message);

}  // namespace zelk::py
