#include "crypto/sha256.hpp"

#include <openssl/evp.h>

#include "base/invariant.hpp"
#include "crypto/openssl_objects.hpp"

namespace zelk {

const EVP_MD* crypto_detail::sha256_md() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  if (md == nullptr) invariant_failure("SHA-256 is not available");
  return md;
}

Sha256Digest sha256(ByteView data) {
  Sha256Digest out{};
  unsigned int len = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &len, crypto_detail::sha256_md(), nullptr) !=
          1 ||
      len != out.size())
    invariant_failure("SHA-256 digest failed");
  return out;
}

std::string lower_hex(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return out;
}

}  // namespace zelk
