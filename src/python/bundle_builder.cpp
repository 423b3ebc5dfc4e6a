// SessionBundleBuilder: a coordinator collects the session id, issue time and participants of a
// session trust bundle, then signs it with `build`.
#include <cstdint>
#include <string>
#include <string_view>

#include "python/agent.hpp"
#include "python/bundle.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "session_bundle/build.hpp"

namespace zelk::py {
namespace {

constexpr Signature kNew{"SessionBundleBuilder", "__new__", 1, {"coordinator"}};
constexpr Signature kSessionId{"SessionBundleBuilder", "session_id", 1, {"uuid_str"}};
constexpr Signature kIssuedAt{"SessionBundleBuilder", "issued_at", 1, {"unix_secs"}};
constexpr Signature kParticipant{"SessionBundleBuilder", "participant", 2, {"aid", "tct_token"}};

[[nodiscard]] Result<OwnedRef> builder_new(PyTypeObject*, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kNew, call));
  ZELK_PY_TRY(BorrowedRef agent_obj, arg(args, 0, to_agent));
  auto agent = borrow_shared<AgentCell>(agent_obj);
  if (!agent) return fail(argument_error(args, 0, std::move(agent).error()));
  // The agent needs no Manifest: only its key is shared.
  return wrap<BundleBuilderCell>(session_bundle_builder_class(),
                                 BundleBuilder{.coordinator = (*agent)->key});
}

// Setters return the builder itself; a refused value leaves it as it was.
[[nodiscard]] Result<OwnedRef> builder_session_id(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kSessionId, call));
  ZELK_PY_TRY(auto builder, borrow_exclusive<BundleBuilderCell>(self));
  ZELK_PY_TRY(std::string_view text, arg(args, 0, to_text));
  auto uuid = parse_uuid(text);
  if (!uuid) return fail(PyError::value_error("invalid uuid: " + uuid.error().message()));
  builder->session_id = *uuid;
  return OwnedRef::incref(self);
}

[[nodiscard]] Result<OwnedRef> builder_issued_at(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kIssuedAt, call));
  ZELK_PY_TRY(auto builder, borrow_exclusive<BundleBuilderCell>(self));
  ZELK_PY_TRY(std::int64_t unix_secs, arg(args, 0, to_i64));
  builder->issued_at = unix_secs;
  return OwnedRef::incref(self);
}

[[nodiscard]] Result<OwnedRef> builder_participant(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kParticipant, call));
  ZELK_PY_TRY(auto builder, borrow_exclusive<BundleBuilderCell>(self));
  ZELK_PY_TRY(std::string_view aid_text, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view tct, arg(args, 1, to_text));
  auto aid = parse_aid(aid_text);
  if (!aid) return fail(PyError::value_error("invalid participant AID: " + aid.error().message()));
  builder->participants.push_back(ParticipantEntry{std::move(*aid), std::string(tct)});
  return OwnedRef::incref(self);
}

[[nodiscard]] Result<OwnedRef> builder_build(BorrowedRef self) {
  ZELK_PY_TRY(auto builder, borrow_shared<BundleBuilderCell>(self));
  auto text = build_session_bundle(*builder->coordinator, builder->session_id, builder->issued_at,
                                   builder->participants);
  if (!text) return fail(PyError::runtime_error("bundle build failed: " + text.error().message()));
  return py_str(*text);
}

PyMethodDef g_builder_methods[] = {
    method<builder_session_id>(
        "session_id",
        "session_id($self, uuid_str)\n--\n\n"
        "Sets the session ID (a version 4 UUID string). When it is unset, a fresh one is\n"
        "generated at `build()` time."),
    method<builder_issued_at>("issued_at",
                              "issued_at($self, unix_secs)\n--\n\n"
                              "Override `issued_at` (unix seconds). Defaults to \"now\" at build."),
    method<builder_participant>(
        "participant",
        "participant($self, aid, tct_token)\n--\n\n"
        "Adds a participant. `tct_token` is the participant's TCT as a compact JWS string; its\n"
        "issuer must equal the coordinator's AID and its audience must equal `aid`, both\n"
        "tested at `build()` time."),
    noargs_method<builder_build>("build",
                                 "build($self)\n--\n\n"
                                 "Construct, sign, and return the `SessionBundleEnvelope` JSON."),
    kEndOfMethods,
};

}  // namespace

PyClass& session_bundle_builder_class() {
  static PyClass cls({
      .name = "SessionBundleBuilder",
      .doc = "SessionBundleBuilder(coordinator)\n--\n\n"
             "Fluent builder for issuing a `SessionBundleEnvelope`, made from the coordinator's\n"
             "`ZelkAgent`: chain `participant()` once per participant, then `build()` signs and\n"
             "serialises the bundle.",
      .basicsize = static_cast<int>(sizeof(BundleBuilderCell)),
      .constructor = constructor<builder_new>(),
      .dealloc = &dealloc<BundleBuilderCell>,
      .methods = g_builder_methods,
      .getset = nullptr,
  });
  return cls;
}

}  // namespace zelk::py
