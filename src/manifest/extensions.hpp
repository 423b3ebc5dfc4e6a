#pragma once

// Extension members of signed bodies: a free JSON object held sorted by name (byte order). Shared
// by the Manifest and by the other writers of signed bodies (envelopes, revocation lists, session
// bundles, handshake payloads).

#include <optional>
#include <string>

#include "formats/json/codec.hpp"
#include "formats/json/value.hpp"

namespace zelk {

// Reads sorted; writes sorted even when a caller built the map out of order, so a record never
// carries an extension order of its own.
struct SortedExtensionsCodec : json::SortedObjectCodec {
  static void write(const json::Object& v, std::string& out);
  static json::Value to_value(const json::Object& v);
};

// Adds "extensions" to `object` as an object with its members in name order, or as null when
// `extensions` is absent (callers that leave absent maps out test presence first).
void write_extensions_value_member(json::Object& object,
                                   const std::optional<json::Object>& extensions);

// The same for compact JSON text under construction: "," unless `first`, then "extensions":
// and the sorted object (values as compact JSON) or null.
void write_extensions_json_member(std::string& out, const std::optional<json::Object>& extensions,
                                  bool first);

}  // namespace zelk
