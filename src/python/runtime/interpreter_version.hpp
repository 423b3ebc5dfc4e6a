#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelk::py {

// The module is built against the stable ABI of CPython 3.10. An older interpreter still loads
// the shared object (every symbol it names exists there) but lays some objects out differently
// and crashes on first use, so the import is refused up front.
inline constexpr int kMinimumPythonMajor = 3;
inline constexpr int kMinimumPythonMinor = 10;

// The reason to refuse an interpreter whose version text (Py_GetVersion: "3.9.18 (main, ...")
// is `version`, or nothing when it is recent enough. Text that does not start with
// "<major>.<minor>" is let through: it can only come from an interpreter this check cannot judge.
std::optional<std::string> interpreter_too_old(std::string_view version);

// Sets ImportError and returns false on an interpreter older than 3.10. Uses nothing but
// Py_GetVersion and PyErr_SetString, which every CPython 3 exports with the same meaning.
[[nodiscard]] bool require_supported_interpreter();

}  // namespace zelk::py
