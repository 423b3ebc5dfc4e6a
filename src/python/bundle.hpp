#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "crypto/keys.hpp"
#include "formats/uuid.hpp"
#include "python/runtime/entries.hpp"
#include "python/runtime/error.hpp"
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
// cleared), means not revoked. A PanicException out of the callable is no answer: it is kept for
// take_panic, and the callable is not asked again. Holds one reference to the callable, released
// with the last copy of the check.
class PythonRevocationCheck {
 public:
  struct State;  // the reference, and a panic once one came out
  explicit PythonRevocationCheck(BorrowedRef callable);
  ~PythonRevocationCheck();
  const RevocationCheck& check() const { return check_; }
  // The PanicException the callable raised, if it did; the caller raises it.
  [[nodiscard]] std::optional<PyError> take_panic();

 private:
  std::shared_ptr<State> state_;
  RevocationCheck check_;
};

}  // namespace zelk::py
