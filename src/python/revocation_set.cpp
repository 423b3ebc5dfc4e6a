// Revoked token identifiers taken from Python: only real sets are accepted, and their items are
// kept as the caller wrote them, so membership is an exact text match inside the module.
#include "python/revocation_set.hpp"

#include <string>

#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

// The set's own iterator failing can only come from a subclass that overrides iteration; the
// built-in types never fail here, so it is treated as a broken invariant.
PyError iteration_panic(const char* what) {
  PyError cause = PyError::fetch();
  return PyError::panic(std::string(what) + ": " + cause.describe());
}

Result<RevokedJtiSet> collect(BorrowedRef value, bool frozen) {
  RevokedJtiSet set;
  set.reserve(reserve_hint(PySet_Size(value.get())));
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(value.get()));
  if (!iter)
    return fail(iteration_panic(frozen ? "frozenset should always be iterable"
                                       : "set should always be iterable"));
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) {
    ZELK_PY_TRY(std::string_view text, to_text(item.borrow()));
    set.emplace(text);
  }
  if (PyErr_Occurred() != nullptr)
    return fail(iteration_panic(frozen ? "frozenset iteration should be infallible"
                                       : "set iteration should be infallible"));
  return set;
}

}  // namespace

Result<std::optional<RevokedJtiSet>> extract_revoked_jtis(const BoundArgs& args, std::size_t i) {
  if (!args.has_value(i)) return std::optional<RevokedJtiSet>();
  const BorrowedRef value = args.get(i);
  bool frozen = false;
  if (PySet_Check(value.get())) {
    frozen = false;
  } else if (PyFrozenSet_Check(value.get())) {
    frozen = true;
  } else {
    // Named 'set' although a frozenset is accepted too.
    return fail(argument_error(args, i, not_an_instance(value, "set")));
  }
  auto set = collect(value, frozen);
  if (!set) {
    PyError error = std::move(set).error();
    if (error.is_panic()) return fail(std::move(error));
    return fail(argument_error(args, i, std::move(error)));
  }
  return std::optional<RevokedJtiSet>(std::move(*set));
}

RevocationCheck revocation_check_over(const RevokedJtiSet& set) {
  return [&set](const Uuid& jti) { return jti_in_revoked_set(set, jti); };
}

}  // namespace zelk::py
