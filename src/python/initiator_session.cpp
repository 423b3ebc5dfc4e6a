// InitiatorSession: the outbound side of the handshake. build_hello, process_hello_ack and
// complete read and write the envelopes around the initiator steps of the handshake.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/envelope.hpp"
#include "crypto/envelope_signing.hpp"
#include "handshake/payloads.hpp"
#include "manifest/manifest.hpp"
#include "python/clock.hpp"
#include "python/json_errors.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/session_steps.hpp"

namespace zelk::py {
namespace {

using InitiatorBorrow = ExclusiveBorrow<InitiatorSessionCell>;

constexpr Signature kBuildHello{"InitiatorSession",
                                "build_hello",
                                2,
                                {"peer_manifest_json", "requested_grants", "oidc_mint_jwt"}};
constexpr Signature kProcessHelloAck{
    "InitiatorSession", "process_hello_ack", 2, {"hello_ack_json", "_session_id"}};
constexpr Signature kComplete{"InitiatorSession", "complete", 1, {"commit_ack_json"}};

[[nodiscard]] Result<Aid> peer_manifest_aid(std::string_view text) {
  auto peer = decode_manifest_envelope(text);
  if (!peer)
    return fail(PyError::value_error("invalid peer manifest JSON: " + peer.error().full()));
  return std::move(peer->manifest.aid);
}

[[nodiscard]] Result<OwnedRef> build_hello(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kBuildHello, call));
  ZELK_PY_TRY(InitiatorBorrow session, borrow_exclusive<InitiatorSessionCell>(self));
  ZELK_PY_TRY(std::string_view peer_manifest_json, arg(args, 0, to_text));
  ZELK_PY_TRY(std::vector<std::string> requested_grants, arg(args, 1, to_text_list));
  const BorrowedRef mint = args.has_value(2) ? args.get(2) : BorrowedRef();

  // Only the aid of the peer's Manifest is used: it names the peer the answer must come from.
  ZELK_PY_TRY(const Aid peer_aid, peer_manifest_aid(peer_manifest_json));

  ZELK_PY_TRY(MessageStamp stamp, new_message_stamp());
  std::optional<PyError> panic;
  ZELK_PY_TRY(LocalIdentity identity,
              make_oidc_minter(session->manifest.identity_hint, mint, panic));
  auto payload = begin_hello(session->state, identity, peer_aid, stamp.id, stamp.timestamp,
                             std::move(requested_grants), *session->key, session->manifest);
  if (!payload) return fail(handshake_failure(payload.error(), panic));

  return signed_envelope_text(*session->key, MessageType::MutualHello,
                              mutual_hello_to_value(*payload), stamp);
}

[[nodiscard]] Result<OwnedRef> process_hello_ack(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kProcessHelloAck, call));
  ZELK_PY_TRY(InitiatorBorrow session, borrow_exclusive<InitiatorSessionCell>(self));
  ZELK_PY_TRY(std::string_view hello_ack_json, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view session_id, arg(args, 1, to_text));
  static_cast<void>(session_id);  // the responder's session id plays no part on this side

  ZELK_PY_TRY(auto ack, read_message(hello_ack_json, "hello_ack", &mutual_hello_ack_from_value));
  ZELK_PY_TRY(HandshakeContext context, make_context(*session));
  if (std::holds_alternative<NoHandshake>(session->state))
    return fail(PyError::runtime_error("call build_hello() first"));
  auto commit = on_hello_ack(session->state, ack.envelope, ack.payload, context);
  if (!commit) return fail(PyError::runtime_error(commit.error().message()));

  return new_signed_envelope_text(*session->key, MessageType::MutualCommit,
                                  mutual_commit_to_value(*commit));
}

[[nodiscard]] Result<OwnedRef> complete(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kComplete, call));
  ZELK_PY_TRY(InitiatorBorrow session, borrow_exclusive<InitiatorSessionCell>(self));
  ZELK_PY_TRY(std::string_view commit_ack_json, arg(args, 0, to_text));

  ZELK_PY_TRY(auto ack, read_message(commit_ack_json, "commit_ack", &mutual_commit_ack_from_value));
  ZELK_PY_TRY(HandshakeContext context, make_context(*session));
  if (std::holds_alternative<NoHandshake>(session->state))
    return fail(PyError::runtime_error("call process_hello_ack() first"));
  auto received = on_commit_ack(session->state, ack.envelope.sender.agent_id, ack.payload, context);
  if (!received) return fail(PyError::runtime_error(received.error().message()));
  return py_str(commit_result_json(received->tct.token(), received->grant_voucher));
}

PyMethodDef g_initiator_methods[] = {
    method<build_hello>(
        "build_hello",
        "build_hello($self, peer_manifest_json, requested_grants, oidc_mint_jwt=None)\n--\n\n"
        "Step 1 — build the `MUTUAL_HELLO` envelope.\n"
        "\n"
        "`peer_manifest_json` is the `ManifestEnvelope` JSON from the peer's\n"
        "`GET /.well-known/zelk-manifest`. Returns the envelope JSON to\n"
        "`POST` to `/zelk/handshake/hello`.\n"
        "\n"
        "`oidc_mint_jwt` is required when this agent's manifest is OIDC;\n"
        "the callable receives the handshake-generated `pop_nonce` and\n"
        "must return a freshly-minted JWT whose `nonce` claim equals\n"
        "that nonce. Ignored for pinned-key agents."),
    method<process_hello_ack>("process_hello_ack",
                              "process_hello_ack($self, hello_ack_json, _session_id)\n--\n\n"
                              "Step 2 — process `MUTUAL_HELLO_ACK`, produce `MUTUAL_COMMIT`."),
    method<complete>(
        "complete",
        "complete($self, commit_ack_json)\n--\n\n"
        "Step 3 — process `MUTUAL_COMMIT_ACK`. Returns a JSON object\n"
        "`{\"tct\": \"<compact JWS>\", \"grant_voucher\": \"<compact JWS>\" | null}`:\n"
        "the TCT the peer issued to us, plus the companion grant voucher\n"
        "(when issued — the voucher is what lets us later mint delegations)."),
    kEndOfMethods,
};

}  // namespace

PyClass& initiator_session_class() {
  static PyClass cls({
      .name = "InitiatorSession",
      .doc = "Outbound handshake session — drives the initiator side.",
      .basicsize = static_cast<int>(sizeof(InitiatorSessionCell)),
      .constructor = nullptr,
      .dealloc = &dealloc<InitiatorSessionCell>,
      .methods = g_initiator_methods,
      .getset = nullptr,
  });
  return cls;
}

Result<OwnedRef> wrap_initiator_session(Session<InitiatorState> value) {
  return wrap<InitiatorSessionCell>(initiator_session_class(), std::move(value));
}

}  // namespace zelk::py
