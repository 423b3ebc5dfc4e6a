// Detached signature texts: the syntax check keeps the text and its shape, only well-formed texts
// verify, and a signature a fixed key makes over a fuzzed digest verifies with that key alone.
#include <array>
#include <cstring>

#include <algorithm>
#include "crypto/signature_text.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  const std::string_view text = fuzz::text_of(data, size);
  std::array<std::uint8_t, 32> digest{};
  std::memcpy(digest.data(), data, std::min<std::size_t>(size, 32));

  if (auto checked = check_signature_text(text)) {
    ZELK_FUZZ_CHECK(*checked == text, text);
    ZELK_FUZZ_CHECK(text.size() == 86 ||
                        (text.size() == 86 + kP256SignaturePrefix.size() &&
                         text.starts_with(kP256SignaturePrefix)) ||
                        (text.size() == 86 + kEd25519SignaturePrefix.size() &&
                         text.starts_with(kEd25519SignaturePrefix)),
                    text);
  }
  for (const SigningKey* key : {&fuzz::ed25519_key(), &fuzz::p256_key()}) {
    if (verify_digest_text(key->verifying_key(), digest, text)) {
      ZELK_FUZZ_CHECK(check_signature_text(text).has_value(), text);
    }
    const std::string made = sign_digest_text(*key, digest);
    ZELK_FUZZ_CHECK(check_signature_text(made).has_value(), made);
    ZELK_FUZZ_CHECK(verify_digest_text(key->verifying_key(), digest, made).has_value(), made);
    const SigningKey& other = key == &fuzz::p256_key() ? fuzz::ed25519_key() : fuzz::p256_key();
    ZELK_FUZZ_CHECK(!verify_digest_text(other.verifying_key(), digest, made), made);
  }
  return 0;
}
