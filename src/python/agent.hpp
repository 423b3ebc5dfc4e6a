#pragma once

#include <memory>
#include <optional>

#include "crypto/keys.hpp"
#include "manifest/manifest.hpp"
#include "python/runtime/entries.hpp"
#include "python/runtime/object.hpp"

namespace zelk::py {

// The value of a ZelkAgent: its key, shared with every session and bundle builder made from the
// agent and wiped with its last holder.
struct Agent {
  std::shared_ptr<const SigningKey> key;
  // Set by every successful build_manifest; sessions copy it when they are made.
  std::optional<Manifest> manifest{};
};

using AgentCell = Cell<Agent>;

PyClass& agent_class();
[[nodiscard]] Result<OwnedRef> wrap_agent(Agent value);

// Converter for an argument that must be a ZelkAgent; the caller borrows it next.
[[nodiscard]] inline Result<BorrowedRef> to_agent(BorrowedRef obj) {
  return to_instance(obj, agent_class());
}

// The method records of ZelkAgent, one per unit that implements them, listed in agent.cpp in
// the class's order.
PyMethodDef agent_generate_method();
PyMethodDef agent_from_seed_method();
PyMethodDef agent_build_manifest_method();
PyMethodDef agent_new_session_method();
PyMethodDef agent_new_responder_method();
PyMethodDef agent_verify_tct_method();
PyMethodDef agent_verify_tct_cached_method();
PyMethodDef agent_sign_revocation_list_method();
PyMethodDef agent_build_renewal_request_method();
PyMethodDef agent_process_renewal_request_method();

}  // namespace zelk::py
