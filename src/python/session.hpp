#pragma once

// What the two handshake session classes hold, and what their methods build for each call: the
// context handed to the handshake steps and the agent's own identity for its proof.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/keys.hpp"
#include "handshake/context.hpp"
#include "handshake/identity_proof.hpp"
#include "handshake/state_machine.hpp"
#include "manifest/manifest.hpp"
#include "python/jwks_provider.hpp"
#include "python/runtime/entries.hpp"
#include "python/runtime/object.hpp"

namespace zelk::py {

// A session's fixed settings, taken when it is made.
struct HandshakeConfig {
  std::shared_ptr<const JwksState> resolver;  // absent without a JwksProvider
  std::vector<std::string> trust_anchors;     // serialised URLs
};

// The value of InitiatorSession and ResponderSession: the agent's key (shared), a private copy of
// the agent's Manifest (a later build_manifest reaches only later sessions), the settings and the
// handshake state, which only the handshake methods change.
template <class State>
struct Session {
  std::shared_ptr<const SigningKey> key;
  Manifest manifest;
  HandshakeConfig config;
  State state{};
};

using InitiatorSessionCell = Cell<Session<InitiatorState>>;
using ResponderSessionCell = Cell<Session<ResponderState>>;

PyClass& initiator_session_class();
PyClass& responder_session_class();
[[nodiscard]] Result<OwnedRef> wrap_initiator_session(Session<InitiatorState> value);
[[nodiscard]] Result<OwnedRef> wrap_responder_session(Session<ResponderState> value);

// The per-call context: the session's key, Manifest and anchors, its provider's keys (without a
// provider, a resolver that always fails), no optional hooks, and the clock read once. It refers
// into `session`, which must stay borrowed while the context is used.
template <class State>
[[nodiscard]] Result<HandshakeContext> make_context(const Session<State>& session);

// The agent's own identity, from its Manifest's identity hint, for its proof in a hello. For an
// OIDC identity the caller's oidc_mint_jwt (absent: null) is required and wrapped; a
// PanicException that comes back out of it is kept in `panic`, which the caller raises in place
// of the handshake's failure.
[[nodiscard]] Result<LocalIdentity> make_oidc_minter(const IdentityHint& hint,
                                                     BorrowedRef oidc_mint_jwt,
                                                     std::optional<PyError>& panic);

}  // namespace zelk::py
