#pragma once

#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "crypto/keys.hpp"
#include "crypto/openssl_ptr.hpp"
#include "formats/bytes.hpp"

namespace zelk::bench {

// Setup that cannot go wrong on a sound machine; a failure there makes every figure meaningless.
inline void require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "benchmark setup failed: %s\n", what);
    std::abort();
  }
}

// An Ed25519 key whose seed is 32 copies of `byte`: fixed keys, distinct per byte.
inline SigningKey ed_key(std::uint8_t byte) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(byte);
  return SigningKey::ed25519_from_seed(seed);
}

// The floor for an ES256 check: a P-256 public key and a DER signature made ready once, so that
// each verify() is only OpenSSL's EVP_DigestVerify over the message.
class RawEs256Verifier {
 public:
  // `point` is the uncompressed public point, `signature` the 64-byte r || s.
  RawEs256Verifier(ByteView point, ByteView signature) {
    require(signature.size() == 64, "ES256 signature size");
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("group", group, 0),
                           OSSL_PARAM_construct_octet_string(
                               "pub", const_cast<std::uint8_t*>(point.data()), point.size()),
                           OSSL_PARAM_construct_end()};
    ossl::UniquePtr<EVP_PKEY_CTX> fctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* pkey = nullptr;
    require(fctx && EVP_PKEY_fromdata_init(fctx.get()) == 1 &&
                EVP_PKEY_fromdata(fctx.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params) == 1,
            "EVP_PKEY_fromdata");
    pkey_.reset(pkey);
    ECDSA_SIG* esig = ECDSA_SIG_new();
    ECDSA_SIG_set0(esig, BN_bin2bn(signature.data(), 32, nullptr),
                   BN_bin2bn(signature.data() + 32, 32, nullptr));
    der_len_ = i2d_ECDSA_SIG(esig, &der_);
    ECDSA_SIG_free(esig);
    require(der_len_ > 0, "i2d_ECDSA_SIG");
  }
  ~RawEs256Verifier() { OPENSSL_free(der_); }
  RawEs256Verifier(const RawEs256Verifier&) = delete;
  RawEs256Verifier& operator=(const RawEs256Verifier&) = delete;

  // Nonzero when the signature holds over `message`.
  int verify(std::string_view message) const {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    int r = EVP_DigestVerifyInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, pkey_.get(), nullptr);
    r &= EVP_DigestVerify(ctx, der_, static_cast<std::size_t>(der_len_),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size());
    EVP_MD_CTX_free(ctx);
    return r;
  }

 private:
  ossl::UniquePtr<EVP_PKEY> pkey_;
  unsigned char* der_ = nullptr;
  int der_len_ = 0;
};

}  // namespace zelk::bench
