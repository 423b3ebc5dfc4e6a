// Revoked token identifiers taken from Python: only real sets are accepted, and their items are
// kept as the caller wrote them, so membership is an exact text match inside the module.
#include "python/revocation_set.hpp"

#include <string>
#include <utility>
#include <vector>

#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

// The set's own iterator failing can only come from a subclass that overrides iteration; the
// built-in types never fail here, so it is treated as a broken invariant.
PyError iteration_panic(const char* what) {
  PyError cause = PyError::fetch();
  return PyError::panic(std::string(what) + ": " + cause.describe());
}

// Keeps every element (the reference the iterator hands over) and a view of its UTF-8, which
// CPython stores in the str object itself: per element there is no copy and no allocation.
Result<void> collect(BorrowedRef value, bool frozen, std::vector<OwnedRef>& items,
                     std::vector<std::string_view>& texts) {
  const Py_ssize_t size = PySet_Size(value.get());
  if (size > 0) {
    items.reserve(static_cast<std::size_t>(size));
    texts.reserve(static_cast<std::size_t>(size));
  } else if (size < 0) {
    PyErr_Clear();  // only a capacity hint
  }
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(value.get()));
  if (!iter)
    return fail(iteration_panic(frozen ? "frozenset should always be iterable"
                                       : "set should always be iterable"));
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) {
    ZELK_PY_TRY(std::string_view text, to_text(item.borrow()));
    texts.push_back(text);
    items.push_back(std::move(item));
  }
  if (PyErr_Occurred() != nullptr)
    return fail(iteration_panic(frozen ? "frozenset iteration should be infallible"
                                       : "set iteration should be infallible"));
  return {};
}

}  // namespace

Result<std::optional<RevokedJtiView>> extract_revoked_jtis(const BoundArgs& args, std::size_t i) {
  if (!args.has_value(i)) return std::optional<RevokedJtiView>();
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
  RevokedJtiView view;
  std::vector<std::string_view> texts;
  if (auto ok = collect(value, frozen, view.items_, texts); !ok) {
    PyError error = std::move(ok).error();
    if (error.is_panic()) return fail(std::move(error));
    return fail(argument_error(args, i, std::move(error)));
  }
  view.set_ = RevokedJtiSet::borrowing(std::move(texts));
  return std::optional<RevokedJtiView>(std::move(view));
}

RevocationCheck revocation_check_over(const RevokedJtiSet& set) {
  return [&set](const Uuid& jti) { return jti_in_revoked_set(set, jti); };
}

}  // namespace zelk::py
