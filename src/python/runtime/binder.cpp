#include "python/runtime/binder.hpp"

#include <vector>

namespace zelk::py {
namespace {

std::string count_text(std::size_t n) {
  return std::to_string(n);
}

[[nodiscard]] PyError too_many_positional(const Signature& sig, std::size_t given) {
  std::string msg = sig.callable() + " takes ";
  if (sig.required == sig.count)
    msg += count_text(sig.count);
  else
    msg += "from " + count_text(sig.required) + " to " + count_text(sig.count);
  msg += " positional arguments but " + count_text(given) + (given == 1 ? " was" : " were");
  msg += " given";
  return PyError::type_error(std::move(msg));
}

[[nodiscard]] PyError missing_required(const Signature& sig,
                                       const std::vector<std::string_view>& missing) {
  std::string msg = sig.callable() + " missing " + count_text(missing.size()) +
                    " required positional argument" + (missing.size() == 1 ? "" : "s") + ": ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) {
      if (missing.size() > 2) msg += ',';
      if (i + 1 == missing.size())
        msg += " and ";
      else
        msg += ' ';
    }
    msg += '\'';
    msg += missing[i];
    msg += '\'';
  }
  return PyError::type_error(std::move(msg));
}

}  // namespace

std::string Signature::callable() const {
  std::string out;
  if (!owner.empty()) {
    out += owner;
    out += '.';
  }
  out += name;
  out += "()";
  return out;
}

Result<BoundArgs> bind(const Signature& sig, Call call) {
  BoundArgs bound(sig);

  const Py_ssize_t positional = call.args ? PyTuple_Size(call.args.get()) : 0;
  if (positional < 0) return fail(PyError::fetch());
  if (static_cast<std::size_t>(positional) > sig.count)
    return fail(too_many_positional(sig, static_cast<std::size_t>(positional)));
  for (Py_ssize_t i = 0; i < positional; ++i)
    bound.set(static_cast<std::size_t>(i), BorrowedRef(PyTuple_GetItem(call.args.get(), i)));

  if (call.kwargs) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(call.kwargs.get(), &pos, &key, &value)) {
      // The interpreter passes str keys only; anything else cannot name a parameter.
      if (!PyUnicode_Check(key))
        return fail(PyError::type_error(sig.callable() + " keywords must be strings"));
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(key, &size);
      if (text == nullptr) {
        // Not UTF-8 (lone surrogates): matches no parameter; name it in escaped form.
        PyErr_Clear();
        OwnedRef escaped =
            OwnedRef::steal(PyUnicode_AsEncodedString(key, "utf-8", "backslashreplace"));
        std::string shown;
        char* data = nullptr;
        if (escaped && PyBytes_AsStringAndSize(escaped.get(), &data, &size) == 0)
          shown.assign(data, static_cast<std::size_t>(size));
        PyErr_Clear();
        return fail(PyError::type_error(sig.callable() + " got an unexpected keyword argument '" +
                                        shown + "'"));
      }
      const std::string_view keyword(text, static_cast<std::size_t>(size));
      std::size_t index = sig.count;
      for (std::size_t i = 0; i < sig.count; ++i) {
        if (sig.params[i] == keyword) {
          index = i;
          break;
        }
      }
      if (index == sig.count)
        return fail(PyError::type_error(sig.callable() + " got an unexpected keyword argument '" +
                                        std::string(keyword) + "'"));
      if (bound.given(index))
        return fail(PyError::type_error(sig.callable() + " got multiple values for argument '" +
                                        std::string(keyword) + "'"));
      bound.set(index, BorrowedRef(value));
    }
  }

  std::vector<std::string_view> missing;
  for (std::size_t i = 0; i < sig.required; ++i)
    if (!bound.given(i)) missing.push_back(sig.params[i]);
  if (!missing.empty()) return fail(missing_required(sig, missing));
  return bound;
}

}  // namespace zelk::py
