#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "crypto/keys.hpp"
#include "formats/uuid.hpp"
#include "python/runtime/entries.hpp"
#include "python/runtime/object.hpp"
#include "session_bundle/bundle.hpp"
#include "tct/revocation_check.hpp"

namespace zelk::py {

// The value of a SessionBundleBuilder: the coordinator's key, shared with its agent, and the
// inputs collected so far. Setters replace or append; build reads them and changes nothing.
struct BundleBuilder {
  std::shared_ptr<const SigningKey> coordinator;
  std::optional<Uuid> session_id{};
  std::optional<std::int64_t> issued_at{};
  std::vector<ParticipantEntry> participants{};
};

using BundleBuilderCell = Cell<BundleBuilder>;

PyClass& session_bundle_builder_class();

// The module function verify_session_bundle.
PyMethodDef& verify_session_bundle_function();

// A revocation check that asks a Python callable about each token identifier. Only True, or a
// numpy boolean that is true, means revoked; anything else, a raised exception included (it is
// cleared), means not revoked. Holds one reference to the callable, released with the check.
RevocationCheck python_revocation_check(BorrowedRef callable);

}  // namespace zelk::py
