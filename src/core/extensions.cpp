#include "core/extensions.hpp"

#include <utility>

#include "formats/json/writer.hpp"

namespace zelk {
void write_extensions_value_member(json::Object& object,
                                   const std::optional<json::Object>& extensions) {
  object.insert_or_assign(
      "extensions", extensions ? json::SortedObjectCodec::to_value(*extensions) : json::Value());
}

void write_extensions_json_member(std::string& out, const std::optional<json::Object>& extensions,
                                  bool first) {
  if (!first) out += ',';
  json::write_json_member_name("extensions", out);
  if (extensions)
    json::SortedObjectCodec::write(*extensions, out);
  else
    out += "null";
}

}  // namespace zelk
