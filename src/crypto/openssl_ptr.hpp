#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/x509.h>

#include <memory>

namespace zelk::ossl {

// One owning holder per OpenSSL handle type, each with the type's own free function:
//   ossl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new());
template <typename T>
struct Deleter;

#define ZELK_OSSL_DELETER(type, free_fn)                    \
  template <>                                               \
  struct Deleter<type> {                                    \
    void operator()(type* p) const noexcept { free_fn(p); } \
  };

ZELK_OSSL_DELETER(EVP_PKEY, EVP_PKEY_free)
ZELK_OSSL_DELETER(EVP_PKEY_CTX, EVP_PKEY_CTX_free)
ZELK_OSSL_DELETER(EVP_MD_CTX, EVP_MD_CTX_free)
ZELK_OSSL_DELETER(EVP_MD, EVP_MD_free)
ZELK_OSSL_DELETER(BIGNUM, BN_free)
ZELK_OSSL_DELETER(BN_CTX, BN_CTX_free)
ZELK_OSSL_DELETER(EC_POINT, EC_POINT_free)
ZELK_OSSL_DELETER(EC_GROUP, EC_GROUP_free)
ZELK_OSSL_DELETER(OSSL_PARAM_BLD, OSSL_PARAM_BLD_free)
ZELK_OSSL_DELETER(OSSL_PARAM, OSSL_PARAM_free)
ZELK_OSSL_DELETER(X509, X509_free)

#undef ZELK_OSSL_DELETER

template <typename T>
using UniquePtr = std::unique_ptr<T, Deleter<T>>;

}  // namespace zelk::ossl
