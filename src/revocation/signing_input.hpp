#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>

#include "formats/json/value.hpp"
#include "revocation/revocation_list.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// The signing input of a revocation list: its canonical form (RFC 8785), members sorted, absent
// reason and extensions left out. Fails (Canonicalization) only on a non-finite number inside the
// extensions, which no list read from text holds.
[[nodiscard]] std::expected<std::string, TctError> revocation_list_jcs(const RevocationList& list);

// The canonical `entries` array: each entry's jti, reason (when present) and revoked_at.
void write_revocation_entries(std::span<const RevocationEntry> entries, std::string& out);
// The canonical `extensions` object, sorted at every depth.
[[nodiscard]] std::expected<void, TctError> write_revocation_extensions(
    const json::Object& extensions, std::string& out);

}  // namespace zelk
