#pragma once

#include <openssl/ec.h>
#include <openssl/evp.h>

namespace zelk::crypto_detail {

// Process-lifetime OpenSSL objects, fetched once so that each use skips the provider lookup.
const EC_GROUP* p256_group();
const EVP_MD* sha256_md();

}  // namespace zelk::crypto_detail
