#include "formats/url/idna.hpp"

#include <unicode/uidna.h>

#include <cstdint>

namespace zelk::url::detail {
namespace {

// ICU always checks hyphens and DNS lengths; the URL Standard turns both checks off.
constexpr std::uint32_t kIgnoredErrors =
    UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG | UIDNA_ERROR_DOMAIN_NAME_TOO_LONG |
    UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

// Implementation limits. ICU's Punycode work grows with the square of a label's length, so
// over-long labels are refused before ICU sees them.
constexpr std::size_t kMaxLabelCodePoints = 1000;       // Unicode form of one output label
constexpr std::size_t kMaxAcePayload = 2000;            // characters after "xn--", in and out
constexpr std::size_t kMaxInputLabelCodePoints = 4000;  // non-ASCII input label, before mapping
constexpr std::size_t kMaxDomainBytes = std::size_t{1} << 24;

const UIDNA* uts46() {
  // Opened once and kept for the life of the process; ICU allows concurrent use.
  static const UIDNA* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    UIDNA* idna =
        uidna_openUTS46(UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII |
                            UIDNA_NONTRANSITIONAL_TO_UNICODE,
                        &status);
    return U_SUCCESS(status) ? idna : nullptr;
  }();
  return instance;
}

bool starts_with_ace_prefix(std::string_view label) {
  return label.size() >= 4 && (label[0] == 'x' || label[0] == 'X') &&
         (label[1] == 'n' || label[1] == 'N') && label[2] == '-' && label[3] == '-';
}

// Length of a full stop that UTS #46 maps to '.' at `i` (U+002E, U+3002, U+FF0E, U+FF61), or 0.
std::size_t separator_length(std::string_view s, std::size_t i) {
  if (s[i] == '.') return 1;
  if (i + 3 > s.size()) return 0;
  const std::string_view three = s.substr(i, 3);
  if (three == "\xE3\x80\x82" || three == "\xEF\xBC\x8E" || three == "\xEF\xBD\xA1") return 3;
  return 0;
}

bool input_labels_within_limits(std::string_view domain) {
  std::size_t start = 0;
  std::size_t code_points = 0;
  bool non_ascii = false;
  for (std::size_t i = 0; i <= domain.size();) {
    const std::size_t sep = i < domain.size() ? separator_length(domain, i) : 1;
    if (sep == 0) {
      const auto b = static_cast<unsigned char>(domain[i]);
      if (b >= 0x80) non_ascii = true;
      if ((b & 0xC0) != 0x80) ++code_points;
      ++i;
      continue;
    }
    const std::string_view label = domain.substr(start, i - start);
    if (non_ascii && code_points > kMaxInputLabelCodePoints) return false;
    if (!non_ascii && starts_with_ace_prefix(label) && label.size() - 4 > kMaxAcePayload) {
      return false;
    }
    i += sep;
    start = i;
    code_points = 0;
    non_ascii = false;
  }
  return true;
}

std::size_t count_code_points(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

// Checks ICU 72 does not make for "xn--" labels: no empty or hyphen-ended payload, a decoded
// label that does not itself start with "xn--", and the Unicode label length limit. A payload
// longer than an input label may carry is refused too, so every accepted host parses again.
bool ace_label_acceptable(const UIDNA* idna, std::string_view label) {
  if (label.size() == 4 || label.back() == '-') return false;
  if (label.size() - 4 > kMaxAcePayload) return false;
  const bool nested = label.size() >= 8 && label.substr(4, 4) == "xn--";
  // Punycode spends at least one character per code point, so a short payload is within limits.
  if (label.size() - 4 <= kMaxLabelCodePoints && !nested) return true;
  std::string decoded(label.size() * 4, '\0');
  UErrorCode status = U_ZERO_ERROR;
  UIDNAInfo info = UIDNA_INFO_INITIALIZER;
  const std::int32_t len = uidna_labelToUnicodeUTF8(
      idna, label.data(), static_cast<std::int32_t>(label.size()), decoded.data(),
      static_cast<std::int32_t>(decoded.size()), &info, &status);
  if (U_FAILURE(status) || len < 0 || (info.errors & ~kIgnoredErrors) != 0) return false;
  decoded.resize(static_cast<std::size_t>(len));
  if (count_code_points(decoded) > kMaxLabelCodePoints) return false;
  return !starts_with_ace_prefix(decoded);
}

bool output_labels_acceptable(const UIDNA* idna, std::string_view ascii) {
  std::size_t start = 0;
  while (start <= ascii.size()) {
    std::size_t dot = ascii.find('.', start);
    if (dot == std::string_view::npos) dot = ascii.size();
    const std::string_view label = ascii.substr(start, dot - start);
    if (starts_with_ace_prefix(label) && !ace_label_acceptable(idna, label)) return false;
    start = dot + 1;
  }
  return true;
}

}  // namespace

IdnaOutcome domain_to_ascii_unicode(std::string_view domain, std::string& out) {
  const UIDNA* idna = uts46();
  if (idna == nullptr || domain.size() > kMaxDomainBytes || !input_labels_within_limits(domain)) {
    return IdnaOutcome::failure;
  }
  const std::size_t base = out.size();
  std::size_t capacity = domain.size() + domain.size() / 2 + 64;
  for (int attempt = 0; attempt < 2; ++attempt) {
    out.resize(base + capacity);
    UErrorCode status = U_ZERO_ERROR;
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const std::int32_t len = uidna_nameToASCII_UTF8(
        idna, domain.data(), static_cast<std::int32_t>(domain.size()), out.data() + base,
        static_cast<std::int32_t>(capacity), &info, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0 && len > 0) {
      capacity = static_cast<std::size_t>(len);
      continue;
    }
    if (U_FAILURE(status) || len < 0 || (info.errors & ~kIgnoredErrors) != 0) break;
    out.resize(base + static_cast<std::size_t>(len));
    const std::string_view ascii = std::string_view(out).substr(base);
    if (!output_labels_acceptable(idna, ascii)) break;
    return ascii.empty() ? IdnaOutcome::empty : IdnaOutcome::ok;
  }
  out.resize(base);
  return IdnaOutcome::failure;
}

}  // namespace zelk::url::detail
