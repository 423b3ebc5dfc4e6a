#include "crypto/spki.hpp"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "crypto/openssl_ptr.hpp"

namespace zelk {
namespace {

// The earliest queued error describes the fault best; the queue is emptied so that nothing
// stale reaches a later call on this thread.
[[nodiscard]] SpkiError take_parse_error(const char* fallback) {
  const unsigned long code = ERR_get_error();
  std::string text = fallback;
  if (code != 0) {
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    text = buf;
  }
  ERR_clear_error();
  return SpkiError{std::move(text)};
}

}  // namespace

std::expected<Sha256Digest, SpkiError> spki_sha256(ByteView cert_der) {
  // d2i takes a long length; a longer input cannot hold a longer certificate anyway.
  const long length = static_cast<long>(std::min<std::size_t>(cert_der.size(), LONG_MAX));
  const unsigned char* p = cert_der.data();
  ERR_clear_error();  // a fault left queued elsewhere must not be reported as ours
  ossl::UniquePtr<X509> cert(d2i_X509(nullptr, &p, length));
  if (!cert) return std::unexpected(take_parse_error("certificate parsing failed"));

  // The SPKI as the certificate holds it, encoded again in DER: for a DER certificate these
  // are its own bytes. (X509_pubkey_digest would hash only the key bit string.)
  const X509_PUBKEY* spki = X509_get_X509_PUBKEY(cert.get());
  unsigned char* der = nullptr;
  const int der_len = spki == nullptr ? -1 : i2d_X509_PUBKEY(spki, &der);
  if (der_len <= 0) return std::unexpected(take_parse_error("SubjectPublicKeyInfo not encodable"));
  const Sha256Digest digest = sha256(ByteView(der, static_cast<std::size_t>(der_len)));
  OPENSSL_free(der);
  return digest;
}

}  // namespace zelk
