#include "python/registry.hpp"

#include "python/agent.hpp"
#include "python/bundle.hpp"
#include "python/delegation.hpp"
#include "python/jwks_provider.hpp"
#include "python/manifest.hpp"
#include "python/pinning.hpp"
#include "python/results.hpp"
#include "python/revocation.hpp"
#include "python/session.hpp"
#include "python/tct_cache.hpp"

namespace zelk::py {
namespace {

// The module's names in the order they are added, which is also the order of __all__. A new
// class, function or exception is one line here, in its place.
const AddEntry kModuleEntries[] = {
    add_class<agent_class>,                // ZelkAgent
    add_class<initiator_session_class>,    // InitiatorSession
    add_class<responder_session_class>,    // ResponderSession
    add_class<tct_identity_class>,         // TctIdentity
    add_class<tct_store_class>,            // TctStore
    add_class<delegation_verified_class>,  // DelegationVerified
    add_class<jwks_provider_class>,        // JwksProvider
    add_function<verify_delegation_function>,
    add_function<verify_revocation_list_function>,
    add_function<revocation_signing_bytes_function>,
    add_exception<manifest_verification_error>,
    add_exception<revocation_verification_error>,
    add_function<verify_delegation_multihop_function>,
    add_function<verify_manifest_json_function>,
    add_function<compute_aid_jkt_function>,
    add_class<session_bundle_builder_class>,  // SessionBundleBuilder
    add_function<verify_session_bundle_function>,
    add_class<spki_pin_verifier_class>,  // SpkiPinVerifier
    add_function<compute_spki_hash_function>,
};

}  // namespace

Result<void> register_module_entries(BorrowedRef module) {
  return add_entries(module, kModuleEntries);
}

}  // namespace zelk::py
