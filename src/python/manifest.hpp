#pragma once

#include <string>
#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/exception_type.hpp"
#include "python/runtime/python.hpp"

namespace zelk::py {

// zelk.ManifestVerificationError, derived from RuntimeError.
ExceptionType& manifest_verification_error();

// The error raised for a Manifest that was read but failed verification: `message` as its one
// argument and `code` as its instance attribute.
[[nodiscard]] PyError manifest_verification_failure(std::string message, std::string code);

// The module functions verify_manifest_json and compute_aid_jkt.
PyMethodDef& verify_manifest_json_function();
PyMethodDef& compute_aid_jkt_function();

}  // namespace zelk::py
