#include "python/runtime/convert.hpp"

#include <algorithm>

namespace zelk::py {
namespace {

[[nodiscard]] Result<OwnedRef> made(PyObject* obj,
                                    std::source_location where = std::source_location::current()) {
  if (obj == nullptr) return fail(null_result_panic(where));
  return OwnedRef::steal(obj);
}

}  // namespace

PyError not_an_instance(BorrowedRef obj, std::string_view expected) {
  std::string msg = "'";
  if (obj.get() == Py_None) {
    msg += "None' is not an instance of '";
  } else {
    msg += type_name_of(obj);
    msg += "' object is not an instance of '";
  }
  msg += expected;
  msg += '\'';
  return PyError::type_error(std::move(msg));
}

Result<std::string_view> to_text(BorrowedRef obj) {
  if (!PyUnicode_Check(obj.get())) return fail(not_an_instance(obj, "str"));
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj.get(), &size);
  if (text == nullptr) return fail(PyError::fetch());
  return std::string_view(text, static_cast<std::size_t>(size));
}

Result<ByteView> to_bytes(BorrowedRef obj) {
  if (!PyBytes_Check(obj.get())) return fail(not_an_instance(obj, "bytes"));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(obj.get(), &data, &size) != 0) return fail(PyError::fetch());
  return ByteView(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
}

Result<std::int64_t> to_i64(BorrowedRef obj) {
  static_assert(sizeof(long long) == sizeof(std::int64_t));
  const long long value = PyLong_AsLongLong(obj.get());
  if (value == -1 && PyErr_Occurred() != nullptr) return fail(PyError::fetch());
  return static_cast<std::int64_t>(value);
}

Result<std::uint64_t> to_u64(BorrowedRef obj) {
  static_assert(sizeof(unsigned long long) == sizeof(std::uint64_t));
  OwnedRef index = OwnedRef::steal(PyNumber_Index(obj.get()));
  if (!index) return fail(PyError::fetch());
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr)
    return fail(PyError::fetch());
  return static_cast<std::uint64_t>(value);
}

Result<std::vector<std::string>> to_text_list(BorrowedRef obj) {
  return to_sequence<std::string>(obj, to_text);
}

std::size_t reserve_hint(Py_ssize_t reported) {
  constexpr std::size_t kMaxReserved = 1024;
  if (reported < 0) {
    PyErr_Clear();
    return 0;
  }
  return std::min(static_cast<std::size_t>(reported), kMaxReserved);
}

Result<BorrowedRef> to_list(BorrowedRef obj) {
  if (!PyList_Check(obj.get())) return fail(not_an_instance(obj, "list"));
  return obj;
}

Result<BorrowedRef> to_dict(BorrowedRef obj) {
  if (!PyDict_Check(obj.get())) return fail(not_an_instance(obj, "dict"));
  return obj;
}

PyError argument_error(const BoundArgs& args, std::size_t i, PyError error) {
  std::string note = "while processing '";
  note += args.signature().params[i];
  note += '\'';
  return std::move(error).with_note(note);
}

Result<OwnedRef> py_str(std::string_view text) {
  return made(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Result<OwnedRef> py_bytes(ByteView bytes) {
  return made(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<Py_ssize_t>(bytes.size())));
}

Result<OwnedRef> py_int(std::int64_t value) {
  return made(PyLong_FromLongLong(static_cast<long long>(value)));
}

Result<OwnedRef> py_uint(std::uint64_t value) {
  return made(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
}

Result<OwnedRef> py_bool(bool value) {
  return made(PyBool_FromLong(value ? 1 : 0));
}

Result<OwnedRef> py_none() {
  return OwnedRef::incref(Py_None);
}

Result<OwnedRef> py_str_list(std::span<const std::string> items) {
  ZELK_PY_TRY(OwnedRef list, made(PyList_New(static_cast<Py_ssize_t>(items.size()))));
  for (std::size_t i = 0; i < items.size(); ++i) {
    ZELK_PY_TRY(OwnedRef item, py_str(items[i]));
    // PyList_SetItem takes over the item's reference.
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list;
}

Result<OwnedRef> py_tuple(std::span<OwnedRef> items) {
  ZELK_PY_TRY(OwnedRef tuple, made(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
  for (std::size_t i = 0; i < items.size(); ++i)
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), items[i].release());
  return tuple;
}

}  // namespace zelk::py
