#pragma once

// Extension members of signed bodies: a free JSON object held sorted by name (byte order), read
// and written with json::SortedObjectCodec. Shared by every writer of signed bodies (envelopes,
// Manifests, revocation lists, session bundles, handshake payloads).

#include <optional>
#include <string>

#include "formats/json/codec.hpp"
#include "formats/json/value.hpp"

namespace zelk {

// Adds "extensions" to `object` as an object with its members in name order, or as null when
// `extensions` is absent (callers that leave absent maps out test presence first).
void write_extensions_value_member(json::Object& object,
                                   const std::optional<json::Object>& extensions);

// The same for compact JSON text under construction: "," unless `first`, then "extensions":
// and the sorted object (values as compact JSON) or null.
void write_extensions_json_member(std::string& out, const std::optional<json::Object>& extensions,
                                  bool first);

}  // namespace zelk
