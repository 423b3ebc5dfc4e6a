// ZelkAgent.sign_revocation_list: the agent's revoked token identifiers, from a list of dicts,
// signed into a RevocationListEnvelope.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/saturating.hpp"
#include "core/envelope.hpp"
#include "formats/uuid.hpp"
#include "python/agent.hpp"
#include "python/clock.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "revocation/revocation_list.hpp"
#include "revocation/snapshot.hpp"

namespace zelk::py {
namespace {

constexpr Signature kSignRevocationList{
    "ZelkAgent", "sign_revocation_list", 1, {"entries", "expires_in_secs"}};
constexpr std::int64_t kDefaultListLifetimeSecs = 3600;

std::string item_prefix(std::size_t i) {
  return "entries[" + std::to_string(i) + "]";
}

[[nodiscard]] PyError item_error(std::size_t i, std::string_view rest) {
  return PyError::value_error(item_prefix(i) + std::string(rest));
}

// The dict's own lookup, bypassing any subclass override: nullopt when the key is missing. A
// lookup that raises (a key whose comparison fails) passes its exception on unchanged.
[[nodiscard]] Result<std::optional<BorrowedRef>> lookup(BorrowedRef dict, const char* key) {
  OwnedRef name = OwnedRef::steal(PyUnicode_FromString(key));
  if (!name) return fail(PyError::fetch());
  PyObject* value = PyDict_GetItemWithError(dict.get(), name.get());
  if (value == nullptr) {
    if (PyErr_Occurred() != nullptr) return fail(PyError::fetch());
    return std::optional<BorrowedRef>();
  }
  return std::optional<BorrowedRef>(BorrowedRef(value));
}

// A str that the interpreter cannot encode (a lone surrogate) keeps the interpreter's error.
[[nodiscard]] Result<std::optional<std::string_view>> text_or_nullopt(BorrowedRef value) {
  if (!PyUnicode_Check(value.get())) return std::optional<std::string_view>();
  ZELK_PY_TRY(std::string_view text, to_text(value));
  return std::optional<std::string_view>(text);
}

[[nodiscard]] Result<RevocationEntry> read_entry(BorrowedRef item, std::size_t i,
                                                 std::int64_t now) {
  if (!PyDict_Check(item.get()))
    return fail(item_error(i, " must be a dict with at least a 'jti' key"));

  ZELK_PY_TRY(std::optional<BorrowedRef> jti_obj, lookup(item, "jti"));
  if (!jti_obj) return fail(item_error(i, ".jti is required"));
  // The looked-up values are borrowed from the dict, which code run by a later lookup could
  // change; hold them for the time they are read.
  const OwnedRef jti_held = OwnedRef::incref(*jti_obj);
  ZELK_PY_TRY(std::optional<std::string_view> jti_text, text_or_nullopt(jti_held.borrow()));
  if (!jti_text) return fail(item_error(i, ".jti must be a string"));
  auto jti = parse_uuid(*jti_text);
  if (!jti) return fail(item_error(i, ".jti is not a valid UUID: " + std::string(*jti_text)));

  RevocationEntry entry;
  entry.jti = *jti;
  entry.revoked_at = now;
  ZELK_PY_TRY(std::optional<BorrowedRef> revoked_obj, lookup(item, "revoked_at"));
  if (revoked_obj && revoked_obj->get() != Py_None) {
    const OwnedRef held = OwnedRef::incref(*revoked_obj);
    auto revoked_at = to_i64(held.borrow());
    if (!revoked_at) {
      if (revoked_at.error().is_panic()) return fail(std::move(revoked_at).error());
      return fail(item_error(i, ".revoked_at must be an int (unix seconds)"));
    }
    entry.revoked_at = *revoked_at;
  }
  ZELK_PY_TRY(std::optional<BorrowedRef> reason_obj, lookup(item, "reason"));
  if (reason_obj && reason_obj->get() != Py_None) {
    const OwnedRef held = OwnedRef::incref(*reason_obj);
    ZELK_PY_TRY(std::optional<std::string_view> reason, text_or_nullopt(held.borrow()));
    if (!reason) return fail(item_error(i, ".reason must be a string"));
    entry.reason.emplace(*reason);
  }
  return entry;
}

[[nodiscard]] Result<OwnedRef> sign_revocation_list(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kSignRevocationList, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  ZELK_PY_TRY(BorrowedRef entries, arg(args, 0, to_list));
  ZELK_PY_TRY(std::optional<std::int64_t> lifetime, optional_arg(args, 1, to_i64));
  ZELK_PY_TRY(std::int64_t now, system_now_secs());

  RevocationList list;
  list.version = std::string(kProtocolVersion);
  list.issuer = agent->key->aid();
  list.published_at = now;
  list.expires_at = saturating_add(now, lifetime.value_or(kDefaultListLifetimeSecs));
  // Indexed afresh on every step: a conversion above may run Python code that changes the list.
  for (std::size_t i = 0;; ++i) {
    const Py_ssize_t size = PyList_Size(entries.get());
    if (size < 0) return fail(PyError::fetch());
    if (static_cast<std::size_t>(size) <= i) break;
    const OwnedRef item =
        OwnedRef::incref(BorrowedRef(PyList_GetItem(entries.get(), static_cast<Py_ssize_t>(i))));
    ZELK_PY_TRY(RevocationEntry entry, read_entry(item.borrow(), i, now));
    list.entries.push_back(std::move(entry));
  }

  auto envelope = sign_revocation_snapshot(std::move(list), *agent->key);
  if (!envelope)
    return fail(
        PyError::runtime_error("sign_revocation_list failed: " + envelope.error().message()));
  return py_str(encode_revocation_envelope(*envelope));
}

}  // namespace

PyMethodDef agent_sign_revocation_list_method() {
  return method<sign_revocation_list>(
      "sign_revocation_list",
      "sign_revocation_list($self, entries, expires_in_secs=None)\n"
      "--\n\n"
      "Signs a revocation snapshot of this agent and returns its RevocationListEnvelope JSON.\n"
      "`entries` is a list of dicts with the keys 'jti' (a UUID string, required),\n"
      "'revoked_at' (unix seconds; the signing time by default) and 'reason' (a string);\n"
      "other keys are ignored. The list expires `expires_in_secs` (3600 by default) after\n"
      "the signing time.");
}

}  // namespace zelk::py
