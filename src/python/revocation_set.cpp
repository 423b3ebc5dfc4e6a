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
[[nodiscard]] PyError iteration_panic(const char* what) {
  PyError cause = PyError::fetch();
  return PyError::panic(std::string(what) + ": " + cause.describe());
}

bool is_exact_set(BorrowedRef value) {
  return PySet_CheckExact(value.get()) || PyFrozenSet_CheckExact(value.get());
}

// The set's iterator and its next-element function. The built-in set iterator is called through
// its slot (it ends without raising StopIteration); a subclass's iterator goes through PyIter_Next.
using IterNext = PyObject* (*)(PyObject*);
[[nodiscard]] Result<std::pair<OwnedRef, IterNext>> iterate(BorrowedRef value, bool frozen) {
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(value.get()));
  if (!iter)
    return fail(iteration_panic(frozen ? "frozenset should always be iterable"
                                       : "set should always be iterable"));
  IterNext next = PyIter_Next;
  if (is_exact_set(value))
    if (void* slot = PyType_GetSlot(Py_TYPE(iter.get()), Py_tp_iternext))
      next = reinterpret_cast<IterNext>(slot);
  return std::pair{std::move(iter), next};
}

[[nodiscard]] Result<void> iteration_ended(bool frozen) {
  if (PyErr_Occurred() != nullptr)
    return fail(iteration_panic(frozen ? "frozenset iteration should be infallible"
                                       : "set iteration should be infallible"));
  return {};
}

// The common case of an exact set, checked with nothing kept: whether every element is an exact
// str with UTF-8. At the first other element this gives up, leaving its refusal to
// collect_elements, which reads again from the start (no Python code runs while an exact set is
// iterated, so both passes see the same elements).
[[nodiscard]] Result<bool> all_plain_str(BorrowedRef value, bool frozen) {
  ZELK_PY_TRY(auto iteration, iterate(value, frozen));
  auto& [iter, next] = iteration;
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
  if (auto ended = iteration_ended(frozen); !ended) return fail(std::move(ended).error());
  return true;
}

// One pass in iteration order keeping each element and its UTF-8 text (held by the str object
// itself, so nothing is copied); every element must be a str whose UTF-8 CPython can give.
[[nodiscard]] Result<void> collect_elements(BorrowedRef value, bool frozen,
                                            std::vector<OwnedRef>& items,
                                            std::vector<std::string_view>& texts) {
  const Py_ssize_t size = PySet_Size(value.get());
  if (size > 0) {
    items.reserve(static_cast<std::size_t>(size));
    texts.reserve(static_cast<std::size_t>(size));
  } else if (size < 0) {
    PyErr_Clear();  // only a capacity hint
  }
  ZELK_PY_TRY(auto iteration, iterate(value, frozen));
  auto& [iter, next] = iteration;
  while (OwnedRef item = OwnedRef::steal(next(iter.get()))) {
    // A refusal is reported by to_text, so it reads exactly as for any other str argument.
    PyObject* obj = item.get();
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_Check(obj) ? PyUnicode_AsUTF8AndSize(obj, &length) : nullptr;
    if (utf8 == nullptr) [[unlikely]] {
      PyErr_Clear();
      auto refused = to_text(item.borrow());
      if (refused) return fail(PyError::panic("a str element was refused and then accepted"));
      return fail(std::move(refused).error());
    }
    texts.emplace_back(utf8, static_cast<std::size_t>(length));
    items.push_back(std::move(item));
  }
  return iteration_ended(frozen);
}

// Membership in an exact set of exact str objects, which the set's own hash lookup decides. The
// text is a hyphenated UUID, so only running out of memory can fail here; an identifier that
// cannot be cleared then counts as revoked.
bool exact_set_holds(const void* context, std::string_view text) noexcept {
  PyObject* set = const_cast<PyObject*>(static_cast<const PyObject*>(context));
  OwnedRef key = OwnedRef::steal(
      PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  const int found = key ? PySet_Contains(set, key.get()) : -1;
  if (found >= 0) return found == 1;
  PyErr_Clear();
  return true;
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
  // A subclass may iterate over something else than its contents, so its elements are kept as
  // they are met; an exact set is only checked, and read again in the rare case that needs it.
  auto plain = is_exact_set(value) ? all_plain_str(value, frozen) : Result<bool>(false);
  std::vector<std::string_view> texts;
  if (plain && !*plain) {
    auto collected = collect_elements(value, frozen, view.items_, texts);
    if (!collected) plain = fail(std::move(collected).error());
  }
  if (!plain) {
    PyError error = std::move(plain).error();
    if (error.is_panic()) return fail(std::move(error));
    return fail(argument_error(args, i, std::move(error)));
  }
  if (*plain && PySet_Size(value.get()) > 0) {
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
