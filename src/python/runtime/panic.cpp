#include "python/runtime/panic.hpp"

#include <execinfo.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace zelk::py {
namespace {

std::atomic<bool> g_hint_written{false};

// Backtraces are opt-in: set ZELK_BACKTRACE to anything but "0".
bool backtrace_requested() {
  const char* value = std::getenv("ZELK_BACKTRACE");
  return value != nullptr && std::strcmp(value, "0") != 0;
}

// Paths relative to the source tree read better than the build machine's absolute ones.
std::string_view short_path(std::string_view file) {
  for (std::string_view top : {"/src/", "/tests/"}) {
    auto at = file.rfind(top);
    if (at != std::string_view::npos) return file.substr(at + 1);
  }
  return file;
}

void write_all(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void write_panic_report(std::string_view message, std::source_location where) noexcept {
  try {
    std::string report = "\nthread '<unnamed>' panicked at ";
    report += short_path(where.file_name());
    report += ':';
    report += std::to_string(where.line());
    report += ':';
    report += std::to_string(where.column());
    report += ":\n";
    report += message;
    report += '\n';
    const bool wants_trace = backtrace_requested();
    if (!wants_trace && !g_hint_written.exchange(true))
      report += "note: set the environment variable ZELK_BACKTRACE=1 to display a backtrace\n";
    std::fflush(stderr);
    write_all(report);
    if (wants_trace) {
      void* frames[64];
      int depth = ::backtrace(frames, 64);
      ::backtrace_symbols_fd(frames, depth, STDERR_FILENO);
    }
  } catch (...) {
    write_all("\npanic report could not be written\n");
  }
}

void abort_at_boundary() noexcept {
  write_all("\nuncaught panic at ffi boundary\n");
  std::abort();
}

}  // namespace zelk::py
