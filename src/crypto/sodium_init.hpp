#pragma once

namespace zelk::crypto_detail {

// Initialises libsodium once per process; safe to call from any thread.
void ensure_sodium();

}  // namespace zelk::crypto_detail
