#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "formats/bytes.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/error.hpp"

namespace zelk::py {

// ---- Python to C++ -------------------------------------------------------------------------
// Views returned here point into the Python object and live as long as it does; bound arguments
// are held for the whole call, so a view of one is good until the call returns.

// "'<type>' object is not an instance of '<expected>'" ("'None' is not an instance of ..." for
// None), the TypeError of every type check at the boundary.
[[nodiscard]] PyError not_an_instance(BorrowedRef obj, std::string_view expected);

// A str or subclass, as UTF-8; lone surrogates give the interpreter's UnicodeEncodeError.
[[nodiscard]] Result<std::string_view> to_text(BorrowedRef obj);
// A bytes or subclass; bytearray and memoryview are refused.
[[nodiscard]] Result<ByteView> to_bytes(BorrowedRef obj);
// Any object with __index__, within the signed 64-bit range.
[[nodiscard]] Result<std::int64_t> to_i64(BorrowedRef obj);
// Any object with __index__, from 0 to 2^64 - 1.
[[nodiscard]] Result<std::uint64_t> to_u64(BorrowedRef obj);
// How many items to reserve for a container whose length Python reports as `reported` (negative:
// unknown, with the error cleared). A length is only a hint: range(10**9) reports a billion items
// it never holds, so at most a small number is reserved and the rest grows as items arrive.
std::size_t reserve_hint(Py_ssize_t reported);
// A sequence other than str, each item converted by `convert` in iteration order; the first
// item that fails stops the walk with its error.
template <class Item, class Convert>
[[nodiscard]] Result<std::vector<Item>> to_sequence(BorrowedRef obj, Convert convert) {
  if (PyUnicode_Check(obj.get())) return fail(PyError::type_error("Can't extract `str` to `Vec`"));
  if (!PySequence_Check(obj.get())) return fail(not_an_instance(obj, "Sequence"));
  std::vector<Item> items;
  // Iteration below reports real failures; the length is only a hint.
  items.reserve(reserve_hint(PySequence_Size(obj.get())));
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(obj.get()));
  if (!iter) return fail(PyError::fetch());
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) {
    auto value = convert(item.borrow());
    if (!value) return fail(std::move(value).error());
    items.emplace_back(std::move(*value));
  }
  if (PyErr_Occurred() != nullptr) return fail(PyError::fetch());
  return items;
}
// A sequence other than str whose items are all str, copied in iteration order.
[[nodiscard]] Result<std::vector<std::string>> to_text_list(BorrowedRef obj);
// A list or subclass (a tuple is refused).
[[nodiscard]] Result<BorrowedRef> to_list(BorrowedRef obj);
// A dict or subclass.
[[nodiscard]] Result<BorrowedRef> to_dict(BorrowedRef obj);
// Anything: a callable or other object the operation inspects itself.
[[nodiscard]] inline Result<BorrowedRef> to_object(BorrowedRef obj) {
  return obj;
}

// ---- converting bound arguments ----------------------------------------------------------
// Each failure keeps its exception and message and gains the note
// "while processing '<parameter>'".

template <class Convert>
using Converted = typename std::invoke_result_t<Convert, BorrowedRef>::value_type;

[[nodiscard]] PyError argument_error(const BoundArgs& args, std::size_t i, PyError error);

// A parameter the binder guarantees (required) or one the caller checked with given().
template <class Convert>
[[nodiscard]] Result<Converted<Convert>> arg(const BoundArgs& args, std::size_t i,
                                             Convert convert) {
  auto value = convert(args.get(i));
  if (!value) return fail(argument_error(args, i, std::move(value).error()));
  return std::move(*value);
}

// A parameter whose default is None: absent or None gives nullopt.
template <class Convert>
[[nodiscard]] Result<std::optional<Converted<Convert>>> optional_arg(const BoundArgs& args,
                                                                     std::size_t i,
                                                                     Convert convert) {
  if (!args.has_value(i)) return std::optional<Converted<Convert>>();
  auto value = arg(args, i, convert);
  if (!value) return fail(std::move(value).error());
  return std::optional<Converted<Convert>>(std::move(*value));
}

// A parameter with any other default: only absence gives the default, an explicit None is
// converted (and refused) like any other value.
template <class Convert, class Default>
[[nodiscard]] Result<Converted<Convert>> arg_or(const BoundArgs& args, std::size_t i,
                                                Convert convert, Default fallback) {
  if (!args.given(i)) return Converted<Convert>(fallback);
  return arg(args, i, convert);
}

// ---- C++ to Python -------------------------------------------------------------------------
// Every result is a new reference. The interpreter failing to make one is a broken invariant.

[[nodiscard]] Result<OwnedRef> py_str(std::string_view text);
[[nodiscard]] Result<OwnedRef> py_bytes(ByteView bytes);
[[nodiscard]] Result<OwnedRef> py_int(std::int64_t value);
[[nodiscard]] Result<OwnedRef> py_uint(std::uint64_t value);
[[nodiscard]] Result<OwnedRef> py_bool(bool value);
[[nodiscard]] Result<OwnedRef> py_none();
[[nodiscard]] Result<OwnedRef> py_str_list(std::span<const std::string> items);
// A tuple that takes over the given references.
[[nodiscard]] Result<OwnedRef> py_tuple(std::span<OwnedRef> items);

}  // namespace zelk::py
