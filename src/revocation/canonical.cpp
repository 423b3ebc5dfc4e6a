#include "revocation/canonical.hpp"

#include <cstdint>

#include "formats/json/canonical.hpp"
#include "formats/json/float_text.hpp"
#include "formats/json/writer.hpp"

namespace zelk {
namespace {

// RFC 8785 writes every number through the nearest double.
void append_canonical_integer(std::int64_t value, std::string& out) {
  json::append_ecmascript_number(static_cast<double>(value), out);
}

}  // namespace

// The members are written in their sorted order directly rather than through a generic value, so
// that a long list costs one pass. The fixed names are plain ASCII and so sort the same way by
// bytes and by UTF-16 code units.
void write_revocation_entries(std::span<const RevocationEntry> entries, std::string& out) {
  out += '[';
  bool first = true;
  for (const RevocationEntry& entry : entries) {
    if (!first) out += ',';
    first = false;
    out += R"({"jti":")";
    entry.jti.append_to(out);
    out += '"';
    if (entry.reason) {
      out += R"(,"reason":)";
      json::write_json_string(*entry.reason, out);
    }
    out += R"(,"revoked_at":)";
    append_canonical_integer(entry.revoked_at, out);
    out += '}';
  }
  out += ']';
}

std::expected<void, TctError> write_revocation_extensions(const json::Object& extensions,
                                                          std::string& out) {
  // Extension names are free text, so the generic writer sorts them by UTF-16 code units.
  auto written = json::append_canonical(json::Value(extensions), out);
  if (!written) return std::unexpected(TctError::canonicalization(written.error().message()));
  return {};
}

std::expected<std::string, TctError> revocation_list_jcs(const RevocationList& list) {
  std::string out;
  out.reserve(128 + list.entries.size() * 80);
  out += R"({"entries":)";
  write_revocation_entries(list.entries, out);
  out += R"(,"expires_at":)";
  append_canonical_integer(list.expires_at, out);
  if (list.extensions) {
    out += R"(,"extensions":)";
    if (auto ok = write_revocation_extensions(*list.extensions, out); !ok)
      return std::unexpected(std::move(ok.error()));
  }
  out += R"(,"issuer":)";
  json::write_json_string(list.issuer.text(), out);
  out += R"(,"published_at":)";
  append_canonical_integer(list.published_at, out);
  out += R"(,"version":)";
  json::write_json_string(list.version, out);
  out += '}';
  return out;
}

}  // namespace zelk
