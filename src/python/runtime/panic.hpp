#pragma once

#include <source_location>
#include <string_view>

namespace zelk::py {

// Writes the report of a broken invariant to standard error: an empty line, where it happened,
// the message and, once per process unless backtraces were asked for, how to ask for one.
void write_panic_report(std::string_view message, std::source_location where) noexcept;

// A failure that the boundary cannot turn into a Python exception: report and abort.
[[noreturn]] void abort_at_boundary() noexcept;

}  // namespace zelk::py
