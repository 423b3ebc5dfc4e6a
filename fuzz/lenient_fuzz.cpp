// The lenient record reader (undeclared members skipped, as outside tokens are read): it accepts
// only texts that are JSON values, and reads the same record from text and from the parsed value.
#include <optional>

#include "formats/json/record.hpp"
#include "fuzz_support.hpp"

namespace zelk::fuzz {

struct OutsideHeader {
  std::string alg;
  std::optional<std::string> kid;
  std::optional<std::vector<std::string>> crit;
  friend bool operator==(const OutsideHeader&, const OutsideHeader&) = default;
};

}  // namespace zelk::fuzz

template <>
struct zelk::json::RecordTraits<zelk::fuzz::OutsideHeader> {
  using H = zelk::fuzz::OutsideHeader;
  static constexpr std::string_view name = "OutsideHeader";
  static constexpr bool ignore_unknown = true;
  static constexpr std::tuple members{
      member::required("alg", &H::alg),
      member::optional_left_off("kid", &H::kid),
      member::optional_left_off("crit", &H::crit),
  };
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  using H = fuzz::OutsideHeader;
  fuzz::check_record_reader(
      fuzz::text_of(data, size), [](std::string_view text) { return json::read_record<H>(text); },
      json::record_from_value<H>, json::record_to_value<H>);
  fuzz::check_preparsed_read<H>(fuzz::text_of(data, size));
  return 0;
}
