#include "python/registry.hpp"

#include "python/agent.hpp"
#include "python/delegation.hpp"
#include "python/manifest.hpp"
#include "python/results.hpp"
#include "python/revocation.hpp"
#include "python/tct.hpp"

namespace zelk::py {
namespace {

// The module's names in the order they are added, which is also the order of __all__. A new
// class, function or exception is one line here, in its place.
const AddEntry kModuleEntries[] = {
    add_class<agent_class>,                // ZelkAgent
    add_class<tct_identity_class>,         // TctIdentity
    add_class<tct_store_class>,            // TctStore
    add_class<delegation_verified_class>,  // DelegationVerified
    add_function<verify_delegation_function>,
    add_exception<manifest_verification_error>,
    add_exception<revocation_verification_error>,
    add_function<verify_delegation_multihop_function>,
    add_function<verify_manifest_json_function>,
    add_function<compute_aid_jkt_function>,
};

}  // namespace

Result<void> register_module_entries(BorrowedRef module) {
  return add_entries(module, kModuleEntries);
}

}  // namespace zelk::py
