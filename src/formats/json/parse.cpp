#include "formats/json/parse.hpp"

#include <cstdint>
#include <vector>

#include "formats/json/name_hash.hpp"

namespace zelk::json {

std::expected<Value, JsonError> parse_value(std::string_view text) {
  Reader reader(text);
  Value out;
  if (!reader.read_value(out) || !reader.finish()) return std::unexpected(reader.take_error());
  return out;
}

std::expected<ParsedText, JsonError> parse_text(std::string_view text) {
  Reader reader(text);
  ParsedText out;
  if (!reader.read_value(out.value) || !reader.finish())
    return std::unexpected(reader.take_error());
  out.repeated_names = reader.saw_repeated_name();
  return out;
}

namespace {

// The names met so far in the objects being scanned, innermost object last. Names live in one
// arena; an object that grows large gets a hash table of its own.
class DuplicateScan {
 public:
  explicit DuplicateScan(Reader& reader) : reader_(reader) {}

  bool value() {
    switch (reader_.peek()) {
      case Peek::Object:
        return object();
      case Peek::Array:
        return array();
      case Peek::String: {
        std::string_view ignored;
        return reader_.read_string_view(ignored);
      }
      case Peek::Null:
        return reader_.take_null() == 1;
      case Peek::True:
      case Peek::False: {
        bool ignored = false;
        return reader_.read_bool(ignored);
      }
      case Peek::Number: {
        Number ignored;
        return reader_.read_number(ignored, {"any valid JSON value"});
      }
      case Peek::End:
      case Peek::Other:
        break;
    }
    return reader_.invalid_type({"any valid JSON value"});  // the syntax error for what is there
  }

 private:
  struct Name {
    std::size_t offset;
    std::size_t size;
    std::size_t hash;
  };
  static constexpr std::size_t kTableFrom = 32;

  std::string_view text_of(const Name& n) const {
    return std::string_view(arena_).substr(n.offset, n.size);
  }

  bool array() {
    Reader::ArrayCursor cursor;
    if (!reader_.begin_array(cursor)) return false;
    bool ok = true;
    for (;;) {
      const int r = reader_.next_element(cursor);
      if (r <= 0) {
        ok = r == 0;
        break;
      }
      if (!value()) {
        ok = false;
        break;
      }
    }
    return reader_.end_array(cursor, ok);
  }

  bool object() {
    Reader::ObjectCursor cursor;
    if (!reader_.begin_object(cursor)) return false;
    const std::size_t first_name = names_.size();
    const std::size_t arena_mark = arena_.size();
    std::vector<std::size_t> table;  // slots: 0 empty, else index into names_ + 1
    bool ok = true;
    std::string_view name;
    for (;;) {
      const int r = reader_.next_key(cursor, name);
      if (r <= 0) {
        ok = r == 0;
        break;
      }
      if (!add(name, first_name, table)) {
        ok = reader_.fail(duplicate_field_message(name));
        break;
      }
      if (!reader_.begin_member_value(cursor) || !value()) {
        ok = false;
        break;
      }
    }
    names_.resize(first_name);
    arena_.resize(arena_mark);
    return reader_.end_object(cursor, ok);
  }

  // Records `name` for the current object; false when it is already there.
  bool add(std::string_view name, std::size_t first_name, std::vector<std::size_t>& table) {
    const std::size_t hash = hash_member_name(name);
    const std::size_t count = names_.size() - first_name;
    if (table.empty()) {
      for (std::size_t i = first_name; i < names_.size(); ++i)
        if (names_[i].hash == hash && text_of(names_[i]) == name) return false;
    } else {
      const std::size_t mask = table.size() - 1;
      for (std::size_t slot = hash & mask; table[slot] != 0; slot = (slot + 1) & mask) {
        const Name& n = names_[table[slot] - 1];
        if (n.hash == hash && text_of(n) == name) return false;
      }
    }
    names_.push_back(Name{arena_.size(), name.size(), hash});
    arena_.append(name);
    if (!table.empty() ? (count + 1) * 2 > table.size() : count + 1 >= kTableFrom) {
      std::size_t slots = 64;
      while (slots < (count + 1) * 2) slots *= 2;
      table.assign(slots, 0);
      for (std::size_t i = first_name; i < names_.size(); ++i) insert(table, i);
    } else if (!table.empty()) {
      insert(table, names_.size() - 1);
    }
    return true;
  }

  void insert(std::vector<std::size_t>& table, std::size_t index) const {
    const std::size_t mask = table.size() - 1;
    std::size_t slot = names_[index].hash & mask;
    while (table[slot] != 0) slot = (slot + 1) & mask;
    table[slot] = index + 1;
  }

  Reader& reader_;
  std::vector<Name> names_;
  std::string arena_;
};

}  // namespace

std::expected<void, JsonError> scan_json_for_duplicate_keys(Reader& reader) {
  DuplicateScan scan(reader);
  if (!scan.value()) return std::unexpected(reader.take_error());
  return {};
}

std::optional<std::string> check_duplicate_keys(std::string_view text) {
  Reader reader(text);
  auto scanned = scan_json_for_duplicate_keys(reader);
  if (!scanned) return scanned.error().full();
  return std::nullopt;
}

}  // namespace zelk::json
