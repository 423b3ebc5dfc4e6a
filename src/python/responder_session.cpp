// ResponderSession: the inbound side of the handshake. process_hello and process_commit read and
// write the envelopes around the responder steps of the handshake.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/envelope.hpp"
#include "handshake/payloads.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/session_steps.hpp"

namespace zelk::py {
namespace {

using ResponderBorrow = ExclusiveBorrow<ResponderSessionCell>;

constexpr Signature kProcessHello{
    "ResponderSession", "process_hello", 1, {"hello_json", "oidc_mint_jwt"}};
constexpr Signature kProcessCommit{"ResponderSession", "process_commit", 1, {"commit_json"}};

[[nodiscard]] Result<OwnedRef> pair(OwnedRef first, OwnedRef second) {
  OwnedRef items[] = {std::move(first), std::move(second)};
  return py_tuple(items);
}

[[nodiscard]] Result<OwnedRef> process_hello(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kProcessHello, call));
  ZELK_PY_TRY(ResponderBorrow session, borrow_exclusive<ResponderSessionCell>(self));
  ZELK_PY_TRY(std::string_view hello_json, arg(args, 0, to_text));
  const BorrowedRef mint = args.has_value(1) ? args.get(1) : BorrowedRef();

  ZELK_PY_TRY(auto hello, read_message(hello_json, "hello", &mutual_hello_from_value));
  ZELK_PY_TRY(MessageStamp stamp, new_message_stamp());
  ZELK_PY_TRY(HandshakeContext context, make_context(*session));
  std::optional<PyError> panic;
  ZELK_PY_TRY(LocalIdentity identity,
              make_oidc_minter(session->manifest.identity_hint, mint, panic));
  // This side asks for everything the initiator offers.
  std::vector<std::string> requested = hello.payload.manifest.offered_capabilities;
  auto answer = on_hello(hello.envelope, hello.payload, identity, stamp.id, stamp.timestamp,
                         std::move(requested), context);
  if (!answer) return fail(handshake_failure(answer.error(), panic));
  ZELK_PY_TRY(std::string session_id, new_uuid_text());
  session->state = std::move(answer->state);

  ZELK_PY_TRY(OwnedRef reply,
              signed_envelope_text(*session->key, MessageType::MutualHelloAck,
                                   mutual_hello_ack_to_value(answer->payload), stamp));
  ZELK_PY_TRY(OwnedRef id_text, py_str(session_id));
  return pair(std::move(reply), std::move(id_text));
}

[[nodiscard]] Result<OwnedRef> process_commit(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kProcessCommit, call));
  ZELK_PY_TRY(ResponderBorrow session, borrow_exclusive<ResponderSessionCell>(self));
  ZELK_PY_TRY(std::string_view commit_json, arg(args, 0, to_text));

  ZELK_PY_TRY(auto commit, read_message(commit_json, "commit", &mutual_commit_from_value));
  ZELK_PY_TRY(HandshakeContext context, make_context(*session));
  if (std::holds_alternative<NoHandshake>(session->state))
    return fail(PyError::runtime_error("call process_hello() first"));
  auto answer = on_commit(session->state, commit.envelope.sender.agent_id, commit.payload, context);
  if (!answer) return fail(PyError::runtime_error(answer.error().message()));

  ZELK_PY_TRY(OwnedRef reply,
              new_signed_envelope_text(*session->key, MessageType::MutualCommitAck,
                                       mutual_commit_ack_to_value(answer->payload)));
  ZELK_PY_TRY(OwnedRef received, py_str(commit_result_json(answer->received.tct.token(),
                                                           answer->received.grant_voucher)));
  return pair(std::move(reply), std::move(received));
}

PyMethodDef g_responder_methods[] = {
    method<process_hello>("process_hello",
                          "process_hello($self, hello_json, oidc_mint_jwt=None)\n--\n\n"
                          "Process an incoming `MUTUAL_HELLO` envelope.\n"
                          "\n"
                          "`oidc_mint_jwt` is required when this agent's manifest is OIDC;\n"
                          "see `InitiatorSession.build_hello` for semantics."),
    method<process_commit>("process_commit",
                           "process_commit($self, commit_json)\n--\n\n"
                           "Process an incoming `MUTUAL_COMMIT` envelope."),
    kEndOfMethods,
};

}  // namespace

PyClass& responder_session_class() {
  static PyClass cls({
      .name = "ResponderSession",
      .doc = "Inbound handshake session — drives the responder side.",
      .basicsize = static_cast<int>(sizeof(ResponderSessionCell)),
      .constructor = nullptr,
      .dealloc = &dealloc<ResponderSessionCell>,
      .methods = g_responder_methods,
      .getset = nullptr,
  });
  return cls;
}

Result<OwnedRef> wrap_responder_session(Session<ResponderState> value) {
  return wrap<ResponderSessionCell>(responder_session_class(), std::move(value));
}

}  // namespace zelk::py
