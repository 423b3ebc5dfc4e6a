#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zelk::json {

class Value;
struct Member;

using Array = std::vector<Value>;

// A JSON object that keeps its members in the order they were first inserted. Inserting a name
// that is already present replaces the value in place (first position, last value).
class Object {
 public:
  // Declared here and defined below Member: the vector's members may only be used where Member
  // is complete (clang instantiates them at the first use).
  Object() = default;
  Object(const Object&);
  Object(Object&&) noexcept;
  Object& operator=(const Object&);
  Object& operator=(Object&&) noexcept;
  ~Object();

  std::size_t size() const;
  bool empty() const;
  const Member* begin() const;
  const Member* end() const;
  Member* begin();
  Member* end();

  const Value* find(std::string_view name) const;
  Value* find(std::string_view name);

  // Replaces an existing member's value in place, otherwise appends.
  Value& insert_or_assign(std::string name, Value value);
  // Appends without looking for an existing member; the caller knows the name is new.
  Value& push_back_unchecked(std::string name, Value value);

  // Orders the members by name, byte by byte (extension members are held that way).
  void sort_by_name();

  friend bool operator==(const Object&, const Object&);

 private:
  // Large objects get a hash index so that reading one stays linear; small ones are searched
  // directly. Members must not be renamed through the mutable iterators.
  static constexpr std::size_t kIndexFrom = 16;
  static constexpr std::size_t kFirstCapacity = 4;
  std::size_t find_position(std::string_view name) const;
  void index_insert(std::size_t position);
  void rebuild_index();

  std::vector<Member> members_;
  std::vector<std::uint32_t> index_;  // open addressing: 0 empty, else member position + 1
};

// A generic JSON value. Numbers keep the kind they were read as: a non-negative integer that fits
// u64, a negative integer that fits i64, or a float (any number written with ".", "e" or "E", and
// integers outside those ranges).
class Value {
 public:
  enum class Kind : std::uint8_t { Null, Bool, PosInt, NegInt, Float, String, Array, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(std::uint64_t u) : v_(u) {}
  Value(std::int64_t i) {
    if (i < 0)
      v_ = i;
    else
      v_ = static_cast<std::uint64_t>(i);
  }
  Value(int i) : Value(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Object o) : v_(std::move(o)) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_bool() const { return kind() == Kind::Bool; }
  bool is_number() const {
    return kind() == Kind::PosInt || kind() == Kind::NegInt || kind() == Kind::Float;
  }
  bool is_string() const { return kind() == Kind::String; }
  bool is_array() const { return kind() == Kind::Array; }
  bool is_object() const { return kind() == Kind::Object; }

  // Unchecked accessors: call only after checking kind().
  bool as_bool() const { return std::get<bool>(v_); }
  std::uint64_t as_pos_int() const { return std::get<std::uint64_t>(v_); }
  std::int64_t as_neg_int() const { return std::get<std::int64_t>(v_); }
  double as_float() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  std::string& as_string() { return std::get<std::string>(v_); }
  const Array& as_array() const { return std::get<Array>(v_); }
  Array& as_array() { return std::get<Array>(v_); }
  const Object& as_object() const { return std::get<Object>(v_); }
  Object& as_object() { return std::get<Object>(v_); }

  // The value as a double, as the canonical writer sees every number.
  double number_as_double() const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, Array,
               Object>
      v_;
};

struct Member {
  std::string name;
  Value value;
  friend bool operator==(const Member&, const Member&) = default;
};

inline Object::Object(const Object&) = default;
inline Object::Object(Object&&) noexcept = default;
inline Object& Object::operator=(const Object&) = default;
inline Object& Object::operator=(Object&&) noexcept = default;
inline Object::~Object() = default;

inline std::size_t Object::size() const {
  return members_.size();
}
inline bool Object::empty() const {
  return members_.empty();
}
inline const Member* Object::begin() const {
  return members_.data();
}
inline const Member* Object::end() const {
  return members_.data() + members_.size();
}
inline Member* Object::begin() {
  return members_.data();
}
inline Member* Object::end() {
  return members_.data() + members_.size();
}
inline bool operator==(const Object& a, const Object& b) {
  return a.members_ == b.members_;
}

}  // namespace zelk::json
