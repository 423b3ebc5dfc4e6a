// _zelk_probe: a small extension module built for the tests only. It drives the boundary runtime
// of zelk (binder, converters, borrow counter, error mapping, panics) through entry points that
// zelk itself does not need to expose.
#include <new>
#include <stdexcept>
#include <string>

#include "python/results.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "python/runtime/exception_type.hpp"
#include "python/runtime/interpreter_version.hpp"
#include "python/runtime/object.hpp"
#include "python/runtime/registration.hpp"

namespace zelk::py::probe {
namespace {

// ---- binder ----------------------------------------------------------------------------------

// The bound arguments as a dict of the given parameters, in signature order.
Result<OwnedRef> given_as_dict(const BoundArgs& args) {
  OwnedRef dict = OwnedRef::steal(PyDict_New());
  if (!dict) return fail(PyError::fetch());
  for (std::size_t i = 0; i < args.signature().count; ++i) {
    if (!args.given(i)) continue;
    ZELK_PY_TRY(OwnedRef key, py_str(args.signature().params[i]));
    if (PyDict_SetItem(dict.get(), key.get(), args.get(i).get()) != 0)
      return fail(PyError::fetch());
  }
  return dict;
}

constexpr Signature kNone{"", "none", 0, {}};
constexpr Signature kOne{"", "one", 1, {"a"}};
constexpr Signature kThree{"", "three", 3, {"a", "b", "c"}};
constexpr Signature kFour{"", "four", 4, {"a", "b", "c", "d"}};
constexpr Signature kOptional{"", "optional", 1, {"a", "b", "c"}};
constexpr Signature kAllOptional{"", "all_optional", 0, {"a", "b"}};

template <const Signature& Sig>
Result<OwnedRef> bind_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(Sig, call));
  return given_as_dict(args);
}

// ---- converters --------------------------------------------------------------------------------

constexpr Signature kConvert{"", "convert", 2, {"kind", "value"}};

Result<OwnedRef> convert_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kConvert, call));
  ZELK_PY_TRY(std::string_view kind, arg(args, 0, to_text));
  if (kind == "text") {
    ZELK_PY_TRY(std::string_view v, arg(args, 1, to_text));
    return py_str(v);
  }
  if (kind == "bytes") {
    ZELK_PY_TRY(ByteView v, arg(args, 1, to_bytes));
    return py_bytes(v);
  }
  if (kind == "i64") {
    ZELK_PY_TRY(std::int64_t v, arg(args, 1, to_i64));
    return py_int(v);
  }
  if (kind == "u64") {
    ZELK_PY_TRY(std::uint64_t v, arg(args, 1, to_u64));
    return py_uint(v);
  }
  if (kind == "text_list") {
    ZELK_PY_TRY(std::vector<std::string> v, arg(args, 1, to_text_list));
    return py_str_list(v);
  }
  if (kind == "list" || kind == "dict") {
    ZELK_PY_TRY(BorrowedRef v, arg(args, 1, kind == "list" ? to_list : to_dict));
    return OwnedRef::incref(v);
  }
  if (kind == "optional_text") {
    ZELK_PY_TRY(std::optional<std::string_view> v, optional_arg(args, 1, to_text));
    if (!v) return py_none();
    return py_str(*v);
  }
  return fail(PyError::value_error("unknown kind"));
}

constexpr Signature kDefaults{"", "defaults", 0, {"suite", "name"}};

// `suite` has a text default (None refused), `name` defaults to None.
Result<OwnedRef> defaults_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kDefaults, call));
  ZELK_PY_TRY(std::string_view suite, arg_or(args, 0, to_text, std::string_view("ed25519")));
  ZELK_PY_TRY(std::optional<std::string_view> name, optional_arg(args, 1, to_text));
  ZELK_PY_TRY(OwnedRef first, py_str(suite));
  OwnedRef second;
  if (name) {
    ZELK_PY_TRY(OwnedRef text, py_str(*name));
    second = std::move(text);
  } else {
    second = OwnedRef::incref(Py_None);
  }
  OwnedRef items[] = {std::move(first), std::move(second)};
  return py_tuple(items);
}

// ---- errors and panics -----------------------------------------------------------------------

ExceptionType& coded_error() {
  static ExceptionType type("_zelk_probe.CodedError", "A coded probe error.", PyExc_RuntimeError);
  return type;
}

constexpr Signature kRaise{"", "raise_error", 2, {"kind", "message"}};

Result<OwnedRef> raise_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kRaise, call));
  ZELK_PY_TRY(std::string_view kind, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view message, arg(args, 1, to_text));
  std::string text(message);
  if (kind == "value") return fail(PyError::value_error(text));
  if (kind == "runtime") return fail(PyError::runtime_error(text));
  if (kind == "type") return fail(PyError::type_error(text));
  if (kind == "coded") {
    ZELK_PY_TRY(BorrowedRef type, coded_error().type());
    return fail(PyError::coded(type, text, "probe_code"));
  }
  if (kind == "panic") return fail(PyError::panic(text));
  if (kind == "throw") throw std::runtime_error(text);
  if (kind == "bad_alloc") throw std::bad_alloc();
  if (kind == "throw_int") throw 7;
  if (kind == "null") return OwnedRef();
  return fail(PyError::value_error("unknown kind"));
}

// ---- borrow counter ----------------------------------------------------------------------------

struct Holder {
  std::string label = "holder";
};
using HolderCell = Cell<Holder>;
PyClass& holder_class();

Result<OwnedRef> call_back(BorrowedRef callback, BorrowedRef self) {
  OwnedRef result =
      OwnedRef::steal(PyObject_CallFunctionObjArgs(callback.get(), self.get(), nullptr));
  if (!result) return fail(PyError::fetch());
  return result;
}

constexpr Signature kWithCallback{"Holder", "shared", 1, {"callback"}};
constexpr Signature kWithCallbackExclusive{"Holder", "exclusive", 1, {"callback"}};
constexpr Signature kPair{"Holder", "pair", 2, {"other", "callback"}};

Result<OwnedRef> holder_shared(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kWithCallback, call));
  ZELK_PY_TRY(auto held, borrow_shared<HolderCell>(self));
  ZELK_PY_TRY(BorrowedRef callback, arg(args, 0, to_object));
  return call_back(callback, self);
}

Result<OwnedRef> holder_exclusive(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kWithCallbackExclusive, call));
  ZELK_PY_TRY(auto held, borrow_exclusive<HolderCell>(self));
  ZELK_PY_TRY(BorrowedRef callback, arg(args, 0, to_object));
  return call_back(callback, self);
}

// Self shared first, then the argument exclusively, as operations that take both do.
Result<OwnedRef> holder_pair(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kPair, call));
  ZELK_PY_TRY(auto held, borrow_shared<HolderCell>(self));
  ZELK_PY_TRY(BorrowedRef other,
              arg(args, 0, [](BorrowedRef obj) { return to_instance(obj, holder_class()); }));
  ZELK_PY_TRY(auto other_held, borrow_exclusive<HolderCell>(other));
  ZELK_PY_TRY(BorrowedRef callback, arg(args, 1, to_object));
  return call_back(callback, self);
}

// The raw counter, read without a borrow.
Result<OwnedRef> holder_count(BorrowedRef self) {
  return py_int(static_cast<std::int64_t>(cell_of<HolderCell>(self)->flag.load()));
}

// A property that borrows shared, as ZelkAgent.aid does.
Result<OwnedRef> holder_label(BorrowedRef self) {
  ZELK_PY_TRY(auto held, borrow_shared<HolderCell>(self));
  return py_str(held->label);
}

constexpr Signature kHolderNew{"Holder", "__new__", 0, {"label"}};

Result<OwnedRef> holder_new(PyTypeObject*, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kHolderNew, call));
  ZELK_PY_TRY(std::string_view label, arg_or(args, 0, to_text, std::string_view("holder")));
  return wrap<HolderCell>(holder_class(), Holder{std::string(label)});
}

PyMethodDef g_holder_methods[] = {
    method<holder_shared>("shared", "shared($self, callback)\n--\n\nBorrow shared, call back."),
    method<holder_exclusive>("exclusive",
                             "exclusive($self, callback)\n--\n\nBorrow exclusively, call back."),
    method<holder_pair>("pair", "pair($self, other, callback)\n--\n\nBorrow both, call back."),
    kEndOfMethods,
};

PyGetSetDef g_holder_properties[] = {
    property<holder_count>("count", "The borrow counter."),
    property<holder_label>("label", "The label, read under a shared borrow."),
    kEndOfProperties,
};

PyClass& holder_class() {
  static PyClass cls({
      .name = "Holder",
      .doc = "Holder(label=\"holder\")\n--\n\nAn object with a borrow counter.",
      .basicsize = static_cast<int>(sizeof(HolderCell)),
      .constructor = constructor<holder_new>(),
      .dealloc = &dealloc<HolderCell>,
      .methods = g_holder_methods,
      .getset = g_holder_properties,
  });
  return cls;
}

// ---- result objects --------------------------------------------------------------------------

constexpr Signature kTctIdentity{
    "", "tct_identity", 4, {"peer_aid", "grants", "expires_at", "jti"}};

Result<OwnedRef> tct_identity_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kTctIdentity, call));
  ZELK_PY_TRY(std::string_view peer, arg(args, 0, to_text));
  ZELK_PY_TRY(std::vector<std::string> grants, arg(args, 1, to_text_list));
  ZELK_PY_TRY(std::int64_t expires_at, arg(args, 2, to_i64));
  ZELK_PY_TRY(std::string_view jti, arg(args, 3, to_text));
  return wrap_tct_identity(
      TctIdentity{std::string(peer), std::move(grants), expires_at, std::string(jti)});
}

constexpr Signature kDelegation{
    "",
    "delegation_verified",
    6,
    {"delegator", "delegatee", "issued_by", "grants", "expires_at", "cnf"}};

Result<OwnedRef> delegation_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kDelegation, call));
  ZELK_PY_TRY(std::string_view delegator, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view delegatee, arg(args, 1, to_text));
  ZELK_PY_TRY(std::string_view issued_by, arg(args, 2, to_text));
  ZELK_PY_TRY(std::vector<std::string> grants, arg(args, 3, to_text_list));
  ZELK_PY_TRY(std::int64_t expires_at, arg(args, 4, to_i64));
  ZELK_PY_TRY(std::string_view cnf, arg(args, 5, to_text));
  return wrap_delegation_verified(DelegationVerified{std::string(delegator), std::string(delegatee),
                                                     std::string(issued_by), std::move(grants),
                                                     expires_at, std::string(cnf)});
}

constexpr Signature kReadDelegation{"", "read_delegation", 1, {"verified"}};

// Reads a DelegationVerified back through its argument converter.
Result<OwnedRef> read_delegation_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kReadDelegation, call));
  ZELK_PY_TRY(const DelegationVerified* v, arg(args, 0, to_delegation_verified));
  ZELK_PY_TRY(OwnedRef delegatee, py_str(v->delegatee));
  ZELK_PY_TRY(OwnedRef grants, py_str_list(v->grants));
  OwnedRef items[] = {std::move(delegatee), std::move(grants)};
  return py_tuple(items);
}

// ---- interpreter version ---------------------------------------------------------------------

constexpr Signature kTooOld{"", "interpreter_too_old", 1, {"version"}};

// The import's refusal text for the interpreter version text `version`, or None.
Result<OwnedRef> too_old_probe(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kTooOld, call));
  ZELK_PY_TRY(std::string_view version, arg(args, 0, to_text));
  std::optional<std::string> refusal = interpreter_too_old(version);
  if (!refusal) return py_none();
  return py_str(*refusal);
}

// ---- module ------------------------------------------------------------------------------------

#define PROBE_FUNCTION(accessor, body, name)                                 \
  PyMethodDef& accessor() {                                                  \
    static PyMethodDef def = module_function<body>(name, name "()\n--\n\n"); \
    return def;                                                              \
  }

PROBE_FUNCTION(none_def, bind_probe<kNone>, "none")
PROBE_FUNCTION(one_def, bind_probe<kOne>, "one")
PROBE_FUNCTION(three_def, bind_probe<kThree>, "three")
PROBE_FUNCTION(four_def, bind_probe<kFour>, "four")
PROBE_FUNCTION(optional_def, bind_probe<kOptional>, "optional")
PROBE_FUNCTION(all_optional_def, bind_probe<kAllOptional>, "all_optional")
PROBE_FUNCTION(convert_def, convert_probe, "convert")
PROBE_FUNCTION(defaults_def, defaults_probe, "defaults")
PROBE_FUNCTION(raise_def, raise_probe, "raise_error")
PROBE_FUNCTION(tct_identity_def, tct_identity_probe, "tct_identity")
PROBE_FUNCTION(delegation_def, delegation_probe, "delegation_verified")
PROBE_FUNCTION(read_delegation_def, read_delegation_probe, "read_delegation")
PROBE_FUNCTION(too_old_def, too_old_probe, "interpreter_too_old")

const AddEntry kEntries[] = {
    add_function<none_def>,
    add_function<one_def>,
    add_function<three_def>,
    add_function<four_def>,
    add_function<optional_def>,
    add_function<all_optional_def>,
    add_function<convert_def>,
    add_function<defaults_def>,
    add_function<raise_def>,
    add_function<tct_identity_def>,
    add_function<delegation_def>,
    add_function<read_delegation_def>,
    add_function<too_old_def>,  // the import's interpreter version check
    add_class<holder_class>,
    add_class<tct_identity_class>,
    add_class<delegation_verified_class>,
    add_exception<coded_error>,
};

int exec_probe(PyObject* module) {
  return run_status_entry(
      [module]() -> Result<void> { return add_entries(BorrowedRef(module), kEntries); });
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_probe)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    "_zelk_probe",
    "Test probe of the zelk boundary runtime.",
    0,
    nullptr,
    g_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace zelk::py::probe

PyMODINIT_FUNC PyInit__zelk_probe() {
  return PyModuleDef_Init(&zelk::py::probe::g_def);
}
