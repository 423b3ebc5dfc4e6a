// JSON text to a generic value and back: the compact writer's text reads as the same value (floats
// bit for bit), the canonical form is stable, and the duplicate-member scan reports only repeats.
#include <bit>
#include <cmath>

#include "formats/json/canonical.hpp"
#include "formats/json/float_text.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace zelk;

// Values equal with floats compared by their bits (so -0.0 differs from 0.0).
bool same(const json::Value& a, const json::Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case json::Value::Kind::Float:
      return std::bit_cast<std::uint64_t>(a.as_float()) ==
             std::bit_cast<std::uint64_t>(b.as_float());
    case json::Value::Kind::Array: {
      const json::Array& x = a.as_array();
      const json::Array& y = b.as_array();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i)
        if (!same(x[i], y[i])) return false;
      return true;
    }
    case json::Value::Kind::Object: {
      const json::Object& x = a.as_object();
      const json::Object& y = b.as_object();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
        if (i->name != j->name || !same(i->value, j->value)) return false;
      return true;
    }
    default:
      return a == b;
  }
}

// Every float's shortest texts (the writer's and the ECMAScript form) read back bit for bit.
void check_floats(const json::Value& v) {
  if (v.kind() == json::Value::Kind::Float) {
    const double d = v.as_float();
    const std::string text = json::float_text(d);
    auto back = json::parse_value(text);
    ZELK_FUZZ_CHECK(
        back && back->kind() == json::Value::Kind::Float &&
            std::bit_cast<std::uint64_t>(back->as_float()) == std::bit_cast<std::uint64_t>(d),
        text);
    std::string ecma;
    json::append_ecmascript_number(d, ecma);
    auto ecma_back = json::parse_value(ecma);
    ZELK_FUZZ_CHECK(ecma_back && ecma_back->number_as_double() == d, ecma);
  } else if (v.is_array()) {
    for (const json::Value& e : v.as_array()) check_floats(e);
  } else if (v.is_object()) {
    for (const json::Member& m : v.as_object()) check_floats(m.value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  auto value = json::parse_value(text);
  const auto duplicate = json::check_duplicate_keys(text);
  if (!value) return 0;
  if (duplicate) {
    ZELK_FUZZ_CHECK(duplicate->starts_with("duplicate field `"), *duplicate);
  }
  const std::string compact = json::to_compact_string(*value);
  auto reread = json::parse_value(compact);
  ZELK_FUZZ_CHECK(reread.has_value(), compact);
  ZELK_FUZZ_CHECK(same(*reread, *value), compact);
  ZELK_FUZZ_CHECK(json::to_compact_string(*reread) == compact, compact);
  check_floats(*value);

  auto canonical = json::canonical_json(*value);
  ZELK_FUZZ_CHECK(canonical.has_value(), compact);  // parsed values hold only finite numbers
  auto canonical_value = json::parse_value(*canonical);
  ZELK_FUZZ_CHECK(canonical_value.has_value(), *canonical);
  auto again = json::canonical_json(*canonical_value);
  ZELK_FUZZ_CHECK(again && *again == *canonical, *canonical);
  return 0;
}
