// The Manifest reader: text path against value path, write-then-read round trip, and the
// published envelope form reading the same Manifest.
#include "formats/json/reader.hpp"
#include "fuzz_support.hpp"
#include "manifest/manifest.hpp"
#include "manifest/verify.hpp"

using namespace zelk;

namespace {

std::expected<Manifest, json::JsonError> read_whole(std::string_view text) {
  json::Reader reader(text);
  auto manifest = decode_manifest(reader);
  if (manifest && !reader.finish()) return std::unexpected(reader.take_error());
  return manifest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  fuzz::check_record_reader(text, read_whole, manifest_from_value, manifest_to_value);

  if (auto envelope = decode_manifest_envelope(text)) {
    const std::string written = encode_manifest_envelope(*envelope);
    auto reread = decode_manifest_envelope(written);
    ZELK_FUZZ_CHECK(reread && *reread == *envelope, written);
    // Verification of any record read must return, whatever it holds.
    (void)verify_manifest(envelope->manifest, 1'700'000'000);
  }
  return 0;
}
