#include "formats/json/codec.hpp"

#include <algorithm>

namespace zelk::json {

void write_object(const Object& object, std::string& out) {
  out += '{';
  bool first = true;
  for (const Member& m : object) {
    if (!first) out += ',';
    first = false;
    write_json_string(m.name, out);
    out += ':';
    write_compact(m.value, out);
  }
  out += '}';
}

namespace {

bool sorted_by_name(const Object& v) {
  return std::is_sorted(v.begin(), v.end(),
                        [](const Member& a, const Member& b) { return a.name < b.name; });
}

}  // namespace

void SortedObjectCodec::write(const Object& v, std::string& out) {
  if (sorted_by_name(v)) return write_object(v, out);
  Object sorted = v;
  sorted.sort_by_name();
  write_object(sorted, out);
}

Value SortedObjectCodec::to_value(const Object& v) {
  Object sorted = v;
  if (!sorted_by_name(sorted)) sorted.sort_by_name();
  return Value(std::move(sorted));
}

}  // namespace zelk::json
