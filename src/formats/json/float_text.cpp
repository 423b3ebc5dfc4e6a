#include "formats/json/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace zelk::json {
namespace {

// Shortest round-trip decimal digits of a positive finite non-zero double, with the decimal
// exponent of the first digit: value = d1.d2...dn * 10^exponent.
struct Decimal {
  char digits[24];
  int count = 0;
  int exponent = 0;
};

Decimal shortest_decimal(double positive) {
  // Scientific form without a precision yields the shortest digits that read back exactly,
  // e.g. "1.7976931348623157e+308"; 32 bytes leave ample room.
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, positive, std::chars_format::scientific);
  Decimal d;
  if (ec != std::errc()) {  // cannot happen for a finite double; keep the result defined anyway
    d.digits[0] = '0';
    d.count = 1;
    return d;
  }
  const char* p = text;
  while (p < end && *p != 'e') {
    if (*p != '.' && d.count < static_cast<int>(sizeof d.digits)) d.digits[d.count++] = *p;
    ++p;
  }
  if (p < end) ++p;  // 'e'
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int magnitude = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) magnitude = magnitude * 10 + (*p - '0');
  d.exponent = negative ? -magnitude : magnitude;
  return d;
}

// Longest text: sign, "0.", 5 zeros and 17 digits, or sign, 17 digits, "e-308"; 48 is ample.
struct TextBuffer {
  char chars[48];
  std::size_t size = 0;
  void put(char c) {
    if (size < sizeof chars) chars[size++] = c;
  }
  void put(const char* s) {
    while (*s) put(*s++);
  }
  void zeros(int n) {
    for (int i = 0; i < n; ++i) put('0');
  }
  void digits(const Decimal& d, int from, int to) {
    for (int i = from; i < to; ++i) put(d.digits[i]);
  }
  void exponent(int e) {
    put('e');
    put(e < 0 ? '-' : '+');
    char buf[8];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, e < 0 ? -e : e);
    if (ec == std::errc())
      for (const char* p = buf; p < end; ++p) put(*p);
  }
};

// Non-finite values never reach a writer's number path (callers filter them out); they still get
// a defined text rather than garbage.
bool put_non_finite(double value, TextBuffer& t, const char* infinity) {
  if (std::isnan(value)) {
    t.put("NaN");
    return true;
  }
  if (std::isinf(value)) {
    if (value < 0) t.put('-');
    t.put(infinity);
    return true;
  }
  return false;
}

// Integral values below 2^53 (times, counts) are printed straight from their integer: every
// integer up to there is a double, so its own digits are the shortest that read back. This
// skips the general shortest-digits search, several times slower.
bool put_small_integer(double value, TextBuffer& t) {
  constexpr double kTwoPow53 = 9007199254740992.0;
  if (!(std::fabs(value) < kTwoPow53) || value != std::trunc(value)) return false;
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<std::int64_t>(value));
  if (ec != std::errc()) return false;
  for (const char* p = buf; p < end; ++p) t.put(*p);
  return true;
}

void put_float_text(double value, TextBuffer& t) {
  if (put_non_finite(value, t, "inf")) return;
  if (value == 0.0) {
    t.put(std::signbit(value) ? "-0.0" : "0.0");
    return;
  }
  if (put_small_integer(value, t)) {  // below 1e16, so always positional
    t.put(".0");
    return;
  }
  if (value < 0) t.put('-');
  const Decimal d = shortest_decimal(std::fabs(value));
  const int n = d.count;
  const int e = d.exponent;
  if (e < -5 || e > 15) {
    t.digits(d, 0, 1);
    if (n > 1) {
      t.put('.');
      t.digits(d, 1, n);
    }
    t.exponent(e);
  } else if (n <= e + 1) {
    t.digits(d, 0, n);
    t.zeros(e + 1 - n);
    t.put(".0");
  } else if (e >= 0) {
    t.digits(d, 0, e + 1);
    t.put('.');
    t.digits(d, e + 1, n);
  } else {
    t.put("0.");
    t.zeros(-e - 1);
    t.digits(d, 0, n);
  }
}

void put_ecmascript_number(double value, TextBuffer& t) {
  if (put_non_finite(value, t, "Infinity")) return;
  if (value == 0.0) {  // both zeros
    t.put('0');
    return;
  }
  if (put_small_integer(value, t)) return;  // below 1e21, so always positional
  if (value < 0) t.put('-');
  const Decimal d = shortest_decimal(std::fabs(value));
  const int k = d.count;
  const int n = d.exponent + 1;  // value = 0.d1...dk * 10^n
  if (k <= n && n <= 21) {
    t.digits(d, 0, k);
    t.zeros(n - k);
  } else if (0 < n && n <= 21) {
    t.digits(d, 0, n);
    t.put('.');
    t.digits(d, n, k);
  } else if (-6 < n && n <= 0) {
    t.put("0.");
    t.zeros(-n);
    t.digits(d, 0, k);
  } else {
    t.digits(d, 0, 1);
    if (k > 1) {
      t.put('.');
      t.digits(d, 1, k);
    }
    t.exponent(n - 1);
  }
}

}  // namespace

void append_float_text(double value, std::string& out) {
  TextBuffer t;
  put_float_text(value, t);
  out.append(t.chars, t.size);
}

std::string float_text(double value) {
  std::string out;
  append_float_text(value, out);
  return out;
}

void append_ecmascript_number(double value, std::string& out) {
  TextBuffer t;
  put_ecmascript_number(value, t);
  out.append(t.chars, t.size);
}

}  // namespace zelk::json
