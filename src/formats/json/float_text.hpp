#pragma once

#include <string>

namespace zelk::json {

// The text this system writes for a JSON float outside canonical form, and inside reader messages
// ("floating point `1.5`"): shortest round-trip digits, positional for decimal exponents -5..15
// ("1.0", "0.00001", "1000000000000000.0"), scientific otherwise ("1e+16", "1e-6", "5e-324").
void append_float_text(double value, std::string& out);
std::string float_text(double value);

// ECMAScript Number::toString form, as RFC 8785 writes numbers ("1e+21", "1e-7", "0.000001", "0").
// The caller guarantees a finite value.
void append_ecmascript_number(double value, std::string& out);

}  // namespace zelk::json
