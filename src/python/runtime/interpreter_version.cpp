#include "python/runtime/interpreter_version.hpp"

#include <charconv>

#include "python/runtime/python.hpp"

namespace zelk::py {
namespace {

// Reads the decimal number at the front of `text` and moves past it.
std::optional<int> take_number(std::string_view& text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end == text.data()) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

}  // namespace

std::optional<std::string> interpreter_too_old(std::string_view version) {
  std::string_view rest = version;
  std::optional<int> major = take_number(rest);
  if (!major || !rest.starts_with('.')) return std::nullopt;
  rest.remove_prefix(1);
  std::optional<int> minor = take_number(rest);
  if (!minor) return std::nullopt;
  if (*major > kMinimumPythonMajor ||
      (*major == kMinimumPythonMajor && *minor >= kMinimumPythonMinor))
    return std::nullopt;
  std::string_view number = version.substr(0, version.find(' '));
  return "zelk requires Python " + std::to_string(kMinimumPythonMajor) + "." +
         std::to_string(kMinimumPythonMinor) + " or later; this interpreter is Python " +
         std::string(number);
}

bool require_supported_interpreter() {
  std::optional<std::string> refusal = interpreter_too_old(Py_GetVersion());
  if (!refusal) return true;
  PyErr_SetString(PyExc_ImportError, refusal->c_str());
  return false;
}

}  // namespace zelk::py
