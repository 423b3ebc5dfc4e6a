#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zelk::crypto_detail {

// The RFC 6979 nonce for P-256 with HMAC-SHA-256: the first candidate of the HMAC-DRBG seeded
// with the private scalar and the message digest that lies in 1..n-1. The digest's 32 bytes seed
// the generator as they stand, as Botan 2 gives them to it (RFC 6979 reduces a digest above n
// first, which the two only tell apart with probability 2^-32); keys made before keep signing the
// same bytes. Written to `nonce`, which the caller wipes.
void rfc6979_p256_nonce(std::span<const std::uint8_t, 32> scalar,
                        std::span<const std::uint8_t, 32> digest,
                        std::span<std::uint8_t, 32> nonce);

// 0 < value < n, decided without branching on the value's bytes.
bool p256_scalar_in_range(std::span<const std::uint8_t, 32> be);

}  // namespace zelk::crypto_detail
