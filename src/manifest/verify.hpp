#pragma once

#include <cstdint>
#include <expected>

#include "manifest/manifest.hpp"
#include "manifest/manifest_error.hpp"

namespace zelk {

// Checks, in order, the version, expiry against `now` (expires_at == now passes; published_at is
// not looked at), the key named by the aid, the canonical form, the signature, the proof of
// possession and the identity hint rules. The first failure decides. The aid is compared with
// nothing but the key it yields itself.
[[nodiscard]] std::expected<void, ManifestError> verify_manifest(const Manifest& manifest,
                                                                 std::int64_t now);

}  // namespace zelk
