// UUID texts: an accepted text reads back from its hyphenated form, and any 16 bytes written
// hyphenated read back as themselves.
#include <cstring>

#include "formats/uuid.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  const std::string_view text = fuzz::text_of(data, size);
  if (auto uuid = parse_uuid(text)) {
    const std::string hyphenated = uuid->to_string();
    ZELK_FUZZ_CHECK(hyphenated.size() == 36, hyphenated);
    auto back = parse_uuid(hyphenated);
    ZELK_FUZZ_CHECK(back && *back == *uuid, hyphenated);
  } else {
    ZELK_FUZZ_CHECK(!uuid.error().message().empty(), text);
  }
  if (size >= 16) {
    Uuid raw;
    std::memcpy(raw.bytes.data(), data, 16);
    auto back = parse_uuid(raw.to_string());
    ZELK_FUZZ_CHECK(back && *back == raw, raw.to_string());
  }
  return 0;
}
