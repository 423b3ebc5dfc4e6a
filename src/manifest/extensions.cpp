#include "manifest/extensions.hpp"

#include <algorithm>
#include <utility>

#include "formats/json/writer.hpp"

namespace zelk {
namespace {

bool sorted_by_name(const json::Object& v) {
  return std::is_sorted(v.begin(), v.end(), [](const json::Member& a, const json::Member& b) {
    return a.name < b.name;
  });
}

}  // namespace

void SortedExtensionsCodec::write(const json::Object& v, std::string& out) {
  if (sorted_by_name(v)) return json::write_object(v, out);
  json::Object sorted = v;
  sorted.sort_by_name();
  json::write_object(sorted, out);
}

json::Value SortedExtensionsCodec::to_value(const json::Object& v) {
  json::Object sorted = v;
  if (!sorted_by_name(sorted)) sorted.sort_by_name();
  return json::Value(std::move(sorted));
}

void write_extensions_value_member(json::Object& object,
                                   const std::optional<json::Object>& extensions) {
  object.insert_or_assign(
      "extensions", extensions ? SortedExtensionsCodec::to_value(*extensions) : json::Value());
}

void write_extensions_json_member(std::string& out, const std::optional<json::Object>& extensions,
                                  bool first) {
  if (!first) out += ',';
  json::write_json_member_name("extensions", out);
  if (extensions)
    SortedExtensionsCodec::write(*extensions, out);
  else
    out += "null";
}

}  // namespace zelk
