// Strict base64url: an accepted text is the encoding of what it decodes to, and any bytes encode to
// a text that decodes back to them.
#include "formats/base64url.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  const std::string_view text = fuzz::text_of(data, size);
  if (auto decoded = b64url_decode(text)) {
    ZELK_FUZZ_CHECK(is_b64url_alphabet(text), text);
    ZELK_FUZZ_CHECK(b64url_encode(*decoded) == text, text);
  } else {
    // Within the alphabet only a lone last character or stray bits after the last byte fail.
    ZELK_FUZZ_CHECK(!is_b64url_alphabet(text) || text.size() % 4 != 0, decoded.error().message());
  }
  const std::string encoded = b64url_encode(ByteView(data, size));
  ZELK_FUZZ_CHECK(encoded.size() == (size * 4 + 2) / 3, encoded);
  auto back = b64url_decode(encoded);
  ZELK_FUZZ_CHECK(back && Bytes(data, data + size) == *back, encoded);
  return 0;
}
