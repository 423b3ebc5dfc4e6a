// verify_session_bundle: a participant checks the session trust bundle its coordinator issued,
// optionally asking a Python callable which participants' tokens are revoked.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "python/bundle.hpp"
#include "python/clock.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/gil.hpp"
#include "session_bundle/verify.hpp"

namespace zelk::py {
namespace {

constexpr Signature kVerifySessionBundle{
    "",
    "verify_session_bundle",
    2,
    {"bundle_envelope_json", "verifier_aid", "now_unix_secs", "revocation_check"}};

// The reference to the caller's callable; copies of the check share it, and the last one
// releases it, taking the interpreter lock if it has to.
class CallableRef {
 public:
  explicit CallableRef(BorrowedRef callable) : callable_(OwnedRef::incref(callable)) {}
  CallableRef(const CallableRef&) = delete;
  CallableRef& operator=(const CallableRef&) = delete;
  ~CallableRef() {
    GilScope gil;
    callable_ = OwnedRef();
  }
  BorrowedRef get() const { return callable_.borrow(); }

 private:
  OwnedRef callable_;
};

}  // namespace

// What the copies of one check share: the reference, and a PanicException that came out of the
// callable. Once one has, the callable is not asked again and the call raises it at its end.
struct PythonRevocationCheck::State {
  explicit State(BorrowedRef callable) : callable(callable) {}
  CallableRef callable;
  std::optional<PyError> panic{};
};

namespace {

// numpy's boolean scalar (bool_, named bool since numpy 2), found by name so that numpy need not
// be imported. The limited API of 3.10 has no PyType_GetName: the type's attributes are read.
bool is_numpy_bool(BorrowedRef type) {
  if (str_attr_or(type, "__module__", "") != "numpy") return false;
  const std::string name = str_attr_or(type, "__name__", "");
  return name == "bool_" || name == "bool";
}

// A failed call into the caller's code answers false; a PanicException out of it is kept.
bool refused(PythonRevocationCheck::State& state, PyError error) {
  if (error.is_panic()) state.panic = std::move(error);
  return false;
}

bool refused(PythonRevocationCheck::State& state) {
  return refused(state, take_callback_error("revocation_check"));
}

// True only for True itself, or a numpy boolean whose type's __bool__ answers True.
bool answer_revokes(PythonRevocationCheck::State& state, BorrowedRef result) {
  if (PyBool_Check(result.get())) return result.get() == Py_True;
  const BorrowedRef type(reinterpret_cast<PyObject*>(Py_TYPE(result.get())));
  if (!is_numpy_bool(type)) return false;
  OwnedRef dunder = OwnedRef::steal(PyObject_GetAttrString(type.get(), "__bool__"));
  if (!dunder) return refused(state);
  OwnedRef truth =
      OwnedRef::steal(PyObject_CallFunctionObjArgs(dunder.get(), result.get(), nullptr));
  if (!truth) return refused(state);
  return PyBool_Check(truth.get()) && truth.get() == Py_True;
}

[[nodiscard]] bool call_revocation_check(PythonRevocationCheck::State& state, const Uuid& jti) {
  if (state.panic) return false;
  GilScope gil;
  // Not callable, or raising: the exception is dropped and the participant stays.
  auto result = call_with_text(state.callable.get(), jti.to_string(), "revocation_check");
  if (!result) return refused(state, std::move(result).error());
  return answer_revokes(state, result->borrow());
}

[[nodiscard]] Result<OwnedRef> verification_dict(const BundleVerification& verified) {
  OwnedRef dict = OwnedRef::steal(PyDict_New());
  if (!dict) return fail(PyError::fetch());
  ZELK_PY_TRY(OwnedRef kind, py_str(verified.dropped_aids ? "degraded" : "clear"));
  ZELK_PY_TRY(OwnedRef active, py_str_list(verified.active_aids));
  ZELK_PY_TRY(
      OwnedRef dropped,
      py_str_list(verified.dropped_aids ? std::span<const std::string>(*verified.dropped_aids)
                                        : std::span<const std::string>()));
  if (PyDict_SetItemString(dict.get(), "kind", kind.get()) != 0 ||
      PyDict_SetItemString(dict.get(), "active_aids", active.get()) != 0 ||
      PyDict_SetItemString(dict.get(), "dropped_aids", dropped.get()) != 0)
    return fail(PyError::fetch());
  return dict;
}

[[nodiscard]] Result<OwnedRef> verify_session_bundle(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifySessionBundle, call));
  ZELK_PY_TRY(std::string_view envelope_text, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view verifier_text, arg(args, 1, to_text));
  ZELK_PY_TRY(std::optional<std::int64_t> given_now, optional_arg(args, 2, to_i64));
  // Any object but None is taken as the callable; it is judged when it is called.
  ZELK_PY_TRY(std::optional<BorrowedRef> callable, optional_arg(args, 3, to_object));

  auto bundle = decode_session_bundle_envelope(envelope_text);
  if (!bundle)
    return fail(PyError::value_error("invalid bundle envelope JSON: " + bundle.error().full()));
  auto verifier = parse_aid(verifier_text);
  if (!verifier)
    return fail(PyError::value_error("invalid verifier AID: " + verifier.error().message()));

  // The clock is read only once both texts have been read.
  ZELK_PY_TRY(std::int64_t now, given_or_system_now(given_now));
  std::optional<PythonRevocationCheck> check;
  if (callable) check.emplace(*callable);
  auto verified = verify_bundle(*bundle, *verifier, now, check ? &check->check() : nullptr);
  if (check) {
    if (std::optional<PyError> panic = check->take_panic()) return fail(std::move(*panic));
  }
  if (!verified)
    return fail(
        PyError::runtime_error("bundle verification failed: " + verified.error().message()));
  return verification_dict(*verified);
}

}  // namespace

PythonRevocationCheck::PythonRevocationCheck(BorrowedRef callable)
    : state_(std::make_shared<State>(callable)),
      check_([state = state_](const Uuid& jti) { return call_revocation_check(*state, jti); }) {}

PythonRevocationCheck::~PythonRevocationCheck() = default;

std::optional<PyError> PythonRevocationCheck::take_panic() {
  std::optional<PyError> panic = std::move(state_->panic);
  state_->panic.reset();
  return panic;
}

PyMethodDef& verify_session_bundle_function() {
  static PyMethodDef def = module_function<verify_session_bundle>(
      "verify_session_bundle",
      "verify_session_bundle(bundle_envelope_json, verifier_aid, now_unix_secs=None, "
      "revocation_check=None)\n--\n\n"
      "Verifies a `SessionBundleEnvelope` JSON text for the participant `verifier_aid` at\n"
      "`now_unix_secs` (the system clock by default): version, expiry, membership, the\n"
      "coordinator's signature and every participant's TCT. Returns a dict with \"kind\"\n"
      "(\"clear\" or \"degraded\"), \"active_aids\" and \"dropped_aids\".\n"
      "\n"
      "`revocation_check`, when given, is called with each verified token's `jti` (lower-case\n"
      "hyphenated text) and drops that participant when it returns True or a true numpy\n"
      "boolean. The check fails open: any other result, an exception it raises (which is\n"
      "discarded) or an object that is not callable counts as not revoked.\n"
      "\n"
      "An unreadable envelope or verifier AID raises ValueError; a bundle that fails\n"
      "verification raises RuntimeError.");
  return def;
}

}  // namespace zelk::py
