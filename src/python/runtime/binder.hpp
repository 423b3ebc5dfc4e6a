#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "python/runtime/error.hpp"
#include "python/runtime/frame.hpp"

namespace zelk::py {

inline constexpr std::size_t kMaxParams = 12;

// The parameters of one method, function or constructor, in signature order. Every parameter may
// be given by position or by keyword; the first `required` ones must be given.
struct Signature {
  constexpr Signature(std::string_view owner_, std::string_view name_, std::size_t required_,
                      std::initializer_list<std::string_view> params_)
      : owner(owner_), name(name_), required(required_), count(params_.size()) {
    std::size_t i = 0;
    for (std::string_view p : params_) params[i++] = p;
  }

  std::string_view owner;  // class name; empty for a module function
  std::string_view name;   // "__new__" for a constructor
  std::size_t required;
  std::size_t count;
  std::array<std::string_view, kMaxParams> params{};

  // "ZelkAgent.from_seed()" or "verify_delegation()", as messages name the callable.
  std::string callable() const;
};

// The arguments of one call placed into their parameters; holds a reference to each so that
// they outlive anything the call runs.
class BoundArgs {
 public:
  explicit BoundArgs(const Signature& signature) : signature_(&signature) {}

  const Signature& signature() const { return *signature_; }
  // Null when the parameter was not given.
  BorrowedRef get(std::size_t i) const { return slots_[i].borrow(); }
  bool given(std::size_t i) const { return static_cast<bool>(slots_[i]); }
  // Given and not None: what "has a value" means for a parameter whose default is None.
  bool has_value(std::size_t i) const { return given(i) && slots_[i].get() != Py_None; }

  void set(std::size_t i, BorrowedRef value) { slots_[i] = OwnedRef::incref(value); }

 private:
  const Signature* signature_;
  std::array<OwnedRef, kMaxParams> slots_{};
};

// Places positional then keyword arguments and checks the required ones, with the interpreter's
// own wording for each refusal. Nothing is converted here.
[[nodiscard]] Result<BoundArgs> bind(const Signature& signature, Call call);

}  // namespace zelk::py
