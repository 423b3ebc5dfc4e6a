#include "formats/json/codec.hpp"

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

}  // namespace zelk::json
