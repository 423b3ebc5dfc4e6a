#pragma once

#include <string>
#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/exception_type.hpp"
#include "python/runtime/python.hpp"

namespace zelk::py {

// zelk.RevocationVerificationError, derived from RuntimeError.
ExceptionType& revocation_verification_error();

// The error for a revocation list that failed verification: `message` as its one argument and
// `code` as its instance attribute.
[[nodiscard]] PyError raise_revocation_error(std::string code, std::string message);

// The module functions verify_revocation_list and revocation_signing_bytes.
PyMethodDef& verify_revocation_list_function();
PyMethodDef& revocation_signing_bytes_function();

}  // namespace zelk::py
