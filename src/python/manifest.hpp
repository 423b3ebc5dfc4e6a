#pragma once

#include <string>
#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/exception_type.hpp"

namespace zelk::py {

// zelk.ManifestVerificationError, derived from RuntimeError.
ExceptionType& manifest_verification_error();

// The error raised for a Manifest that was read but failed verification: `message` as its one
// argument and `code` as its instance attribute.
PyError manifest_verification_failure(std::string message, std::string code);

}  // namespace zelk::py
