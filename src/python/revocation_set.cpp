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

bool is_exact_set(BorrowedRef value) {
  return PySet_CheckExact(value.get()) || PyFrozenSet_CheckExact(value.get());
}

// One pass in iteration order: every element must be a str whose UTF-8 CPython can give (it is
// kept in the object itself, so nothing is copied). With `keep`, each element and its text are
// kept; otherwise only whether every element is an exact str with UTF-8 is reported, and the
// pass stops at the first that is not, leaving its refusal to the full pass.
Result<bool> read_elements(BorrowedRef value, bool frozen, bool keep, std::vector<OwnedRef>& items,
                           std::vector<std::string_view>& texts) {
  if (keep) {
    const Py_ssize_t size = PySet_Size(value.get());
    if (size > 0) {
      items.reserve(static_cast<std::size_t>(size));
      texts.reserve(static_cast<std::size_t>(size));
    } else if (size < 0) {
      PyErr_Clear();  // only a capacity hint
    }
  }
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(value.get()));
  if (!iter)
    return fail(iteration_panic(frozen ? "frozenset should always be iterable"
                                       : "set should always be iterable"));
  // This loop runs once per element. The built-in set iterator is called through its slot (it
  // ends without raising StopIteration); a subclass's iterator goes through PyIter_Next.
  using IterNext = PyObject* (*)(PyObject*);
  IterNext next = PyIter_Next;
  if (is_exact_set(value))
    if (void* slot = PyType_GetSlot(Py_TYPE(iter.get()), Py_tp_iternext))
      next = reinterpret_cast<IterNext>(slot);
  if (!keep) {
    // The common case, checked with nothing kept: every element an exact str with UTF-8. At the
    // first other element this pass gives up, and the full pass reads again from the start (no
    // Python code runs while an exact set is iterated, so both passes see the same elements).
    // Elements are taken a batch at a time before any is looked at: each is usually a cache
    // miss in a large set, and taking them first lets those misses overlap.
    constexpr int batch_size = 16;
    PyObject* batch[batch_size];
    for (;;) {
      int taken = 0;
      while (taken < batch_size && (batch[taken] = next(iter.get())) != nullptr) ++taken;
      bool plain = true;
      for (int k = 0; k < taken; ++k) {
        Py_ssize_t size = 0;
        plain = plain && Py_IS_TYPE(batch[k], &PyUnicode_Type) &&
                PyUnicode_AsUTF8AndSize(batch[k], &size) != nullptr;
      }
      for (int k = 0; k < taken; ++k) Py_DECREF(batch[k]);
      if (!plain) [[unlikely]] {
        PyErr_Clear();
        return false;
      }
      if (taken < batch_size) break;
    }
    if (PyErr_Occurred() != nullptr)
      return fail(iteration_panic(frozen ? "frozenset iteration should be infallible"
                                         : "set iteration should be infallible"));
    return true;
  }
  bool all_exact = true;
  while (OwnedRef item = OwnedRef::steal(next(iter.get()))) {
    // A refusal is reported by to_text, so it reads exactly as for any other str argument.
    PyObject* obj = item.get();
    const bool exact_str = Py_IS_TYPE(obj, &PyUnicode_Type);
    Py_ssize_t size = 0;
    const char* utf8 =
        exact_str || PyUnicode_Check(obj) ? PyUnicode_AsUTF8AndSize(obj, &size) : nullptr;
    if (utf8 == nullptr) [[unlikely]] {
      PyErr_Clear();
      auto refused = to_text(item.borrow());
      if (refused) return fail(PyError::panic("a str element was refused and then accepted"));
      return fail(std::move(refused).error());
    }
    all_exact = all_exact && exact_str;
    if (keep) {
      texts.emplace_back(utf8, static_cast<std::size_t>(size));
      items.push_back(std::move(item));
    }
  }
  if (PyErr_Occurred() != nullptr)
    return fail(iteration_panic(frozen ? "frozenset iteration should be infallible"
                                       : "set iteration should be infallible"));
  return all_exact;
}

// The text match by a scan of an exact set of exact str objects: no Python code runs.
bool scan_for_text(PyObject* set, std::string_view text) noexcept {
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(set));
  if (!iter) {
    PyErr_Clear();
    return true;  // out of memory: an identifier that cannot be cleared counts as revoked
  }
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);  // checked when read
    if (utf8 != nullptr && std::string_view(utf8, static_cast<std::size_t>(size)) == text)
      return true;
  }
  PyErr_Clear();
  return false;
}

// Membership in an exact set of exact str objects, which the set's own hash lookup decides.
bool exact_set_holds(const void* context, std::string_view text) noexcept {
  PyObject* set = const_cast<PyObject*>(static_cast<const PyObject*>(context));
  OwnedRef key = OwnedRef::steal(
      PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  const int found = key ? PySet_Contains(set, key.get()) : -1;
  if (found >= 0) return found == 1;
  // The text is not valid UTF-8 (then nothing matches) or memory ran out: decide by a scan.
  PyErr_Clear();
  return scan_for_text(set, text);
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
  // A subclass may iterate over something else than its contents, so its elements are kept as
  // they are met; an exact set is only checked, and read again in the rare case that needs it.
  const bool exact = is_exact_set(value);
  auto all_exact = read_elements(value, frozen, !exact, view.items_, texts);
  if (all_exact && exact && !*all_exact)
    all_exact = read_elements(value, frozen, true, view.items_, texts);
  if (!all_exact) {
    PyError error = std::move(all_exact).error();
    if (error.is_panic()) return fail(std::move(error));
    return fail(argument_error(args, i, std::move(error)));
  }
  if (exact && *all_exact && PySet_Size(value.get()) > 0) {
    view.container_ = OwnedRef::incref(value);
    view.set_ = RevokedJtiSet::looked_up(exact_set_holds, view.container_.get());
  } else {
    view.set_ = RevokedJtiSet::borrowing(std::move(texts));
  }
  return std::optional<RevokedJtiView>(std::move(view));
}

RevocationCheck revocation_check_over(const RevokedJtiSet& set) {
  return [&set](const Uuid& jti) { return jti_in_revoked_set(set, jti); };
}

HopRevocationCheck hop_revocation_check_over(const RevokedJtiSet& set) {
  return [&set](std::string_view issuer, const Uuid& jti) {
    return hop_jti_in_revoked_set(set, issuer, jti);
  };
}

}  // namespace zelk::py
