// AIDs: an accepted text is kept byte for byte, its key bytes give back the same text, and turning
// it into a verifying key returns whatever the key bytes are.
#include "crypto/keys.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  const std::string_view text = fuzz::text_of(data, size);
  auto aid = parse_aid(text);
  if (!aid) {
    ZELK_FUZZ_CHECK(!aid.error().message().empty(), text);
    return 0;
  }
  ZELK_FUZZ_CHECK(aid->text() == text, text);
  const Bytes key = aid_public_key_bytes(*aid);
  if (aid->key_kind() == AidKeyKind::P256) {
    ZELK_FUZZ_CHECK(aid_from_p256_key(key) == text, text);
  } else {
    ZELK_FUZZ_CHECK(key.size() == 32, text);
    // The short form is the one written; the long form names the same key.
    const std::string written = aid_from_ed25519_key(key);
    ZELK_FUZZ_CHECK(
        written == text ||
            std::string(kAidEd25519LongPrefix) + written.substr(kAidEd25519Prefix.size()) == text,
        text);
  }
  if (auto verifying = verifying_key_from_aid(*aid)) {
    ZELK_FUZZ_CHECK(public_key_bytes(*verifying) == key, text);
  }
  return 0;
}
