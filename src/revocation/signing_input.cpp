#include "revocation/signing_input.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "formats/json/canonical.hpp"
#include "formats/json/float_text.hpp"
#include "formats/json/writer.hpp"

namespace zelk {
namespace {

// RFC 8785 writes every number through the nearest double. Below 2^53 in magnitude that double
// is the integer itself, whose ECMAScript form is its plain decimal digits; beyond, the double
// is written, which for any 64-bit integer is at most 20 characters.
char* write_canonical_integer(std::int64_t value, char* p) {
  constexpr std::int64_t kExact = std::int64_t{1} << 53;
  if (value > -kExact && value < kExact) return std::to_chars(p, p + 24, value).ptr;
  std::string text;
  json::append_ecmascript_number(static_cast<double>(value), text);
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

void append_canonical_integer(std::int64_t value, std::string& out) {
  char digits[24];
  out.append(digits, write_canonical_integer(value, digits));
}

}  // namespace

// The members are written in their sorted order directly rather than through a generic value, so
// that a long list costs one pass; each entry is put together in a local buffer and appended with
// at most three copies. The fixed names are plain ASCII and so sort the same way by bytes and by
// UTF-16 code units.
void write_revocation_entries(std::span<const RevocationEntry> entries, std::string& out) {
  constexpr std::string_view kJti = R"({"jti":")";
  constexpr std::string_view kReason = R"(","reason":)";
  constexpr std::string_view kRevokedAt = R"(,"revoked_at":)";
  constexpr std::string_view kNoReasonRevokedAt = R"(","revoked_at":)";
  out += '[';
  bool first = true;
  for (const RevocationEntry& entry : entries) {
    char buf[128];
    char* p = buf;
    auto put = [&p](std::string_view text) {
      std::memcpy(p, text.data(), text.size());
      p += text.size();
    };
    if (!first) *p++ = ',';
    first = false;
    put(kJti);
    p = entry.jti.write_to(p);
    if (entry.reason) {
      put(kReason);
      out.append(buf, p);
      json::write_json_string(*entry.reason, out);
      p = buf;
      put(kRevokedAt);
    } else {
      put(kNoReasonRevokedAt);
    }
    p = write_canonical_integer(entry.revoked_at, p);
    *p++ = '}';
    out.append(buf, p);
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
  std::size_t estimate = 256 + list.version.size() + list.issuer.text().size();
  for (const RevocationEntry& entry : list.entries)
    estimate += 80 + (entry.reason ? entry.reason->size() + 12 : 0);
  out.reserve(estimate);
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
