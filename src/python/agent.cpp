#include "python/agent.hpp"

#include "python/delegation.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

PyMethodDef g_agent_methods[] = {
    agent_generate_method(),
    agent_from_seed_method(),
    agent_build_manifest_method(),
    agent_new_session_method(),
    agent_new_responder_method(),
    agent_verify_tct_method(),
    agent_verify_tct_cached_method(),
    agent_build_delegation_method(),
    agent_issue_tct_for_delegatee_method(),
    agent_sign_revocation_list_method(),
    agent_build_renewal_request_method(),
    agent_process_renewal_request_method(),
    kEndOfMethods,
};

[[nodiscard]] Result<OwnedRef> agent_aid(BorrowedRef self) {
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  return py_str(agent->key->aid_text());
}

PyGetSetDef g_agent_properties[] = {
    property<agent_aid>("aid", "The agent's AID string (`aid:pubkey:...`)."),
    kEndOfProperties,
};

}  // namespace

PyClass& agent_class() {
  static PyClass cls({
      .name = "ZelkAgent",
      .doc = "A ZELK agent: its signing key and, once `build_manifest` has run, its signed\n"
             "Manifest.",
      .basicsize = static_cast<int>(sizeof(AgentCell)),
      .constructor = nullptr,
      .dealloc = &dealloc<AgentCell>,
      .methods = g_agent_methods,
      .getset = g_agent_properties,
  });
  return cls;
}

Result<OwnedRef> wrap_agent(Agent value) {
  return wrap<AgentCell>(agent_class(), std::move(value));
}

}  // namespace zelk::py
