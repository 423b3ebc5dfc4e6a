#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "formats/json/parse.hpp"
#include "formats/json/writer.hpp"
#include "reader_messages.hpp"
#include "test_records.hpp"

namespace zelk::json {
namespace {

using namespace testing;

const std::vector<std::string>& documents() {
  static const std::vector<std::string> docs = {
      R"({"ver":"zelk/0.2","grants":["read","wr\u00efte"],"cnf":{"jkt":"abc"},)"
      R"("payload":{"n":[1,-2,3.5e-3,true,false,null],"s":"\ud83d\ude00\n"},"note":null,"ext":{}})",
      "[\"v\", [], [\"t\"], {\"deep\": [[[{\"a\": 1e10}]]]}, \"n\xC3\xA9\", null]",
      R"({"type":{"pinned_key":null},"issuer":null,"subject":"s","ext":{"b":[1,2],"a":{}}})",
      R"({"x":{"skip":[1,{"y":"\uD83D\uDE00"},1e99]},"alg":"EdDSA","kid":"k1"})",
      R"({"aud":["a","b"],"n":-9223372036854775808})",
  };
  return docs;
}

// Every error carries one of the reader's messages and a position inside the text (or none).
void check_error(std::string_view text, const JsonError& e) {
  EXPECT_TRUE(is_reader_message(e.message)) << e.message << " reading " << text;
  if (!e.has_position()) return;
  const std::size_t lines =
      1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  EXPECT_LE(e.line, lines) << text;
  EXPECT_LE(e.column, text.size()) << text;
}

// The duplicate scan's answer: nothing, or a message followed by its position.
void check_scan(std::string_view text, const std::expected<ParsedText, JsonError>& parsed) {
  const std::optional<std::string> scan = check_duplicate_keys(text);
  if (scan) {
    const std::size_t at = scan->rfind(" at line ");
    ASSERT_NE(at, std::string::npos) << *scan;
    EXPECT_TRUE(is_reader_message(std::string_view(*scan).substr(0, at))) << *scan;
  }
  // On a text that parses, the scan refuses exactly the repeated names.
  if (parsed) {
    EXPECT_EQ(scan.has_value(), parsed->repeated_names) << text;
    if (scan) {
      EXPECT_TRUE(scan->starts_with("duplicate field `")) << *scan;
    }
  }
}

// A record read from the text and, when the parsed value holds everything the text said, from
// that value: the value's reading, where it accepts, gives what the text's gives (the shortcut
// read_record(text, parsed) takes), and it refuses with a reader's message and no position. An
// accepted record, written as text or as a value, reads back the same.
template <typename T>
void read_record_every_way(std::string_view text,
                           const std::expected<ParsedText, JsonError>& parsed) {
  const auto from_text = read_record<T>(text);
  if (!from_text) check_error(text, from_text.error());
  if (parsed && !parsed->repeated_names) {
    const auto from_value = record_from_value<T>(parsed->value);
    if (from_value) {
      EXPECT_TRUE(from_text.has_value() && *from_text == *from_value) << text;
    } else {
      EXPECT_FALSE(from_value.error().has_position()) << text;
      EXPECT_TRUE(is_reader_message(from_value.error().message)) << from_value.error().message;
    }
  }
  if (!from_text) return;
  std::string written;
  write_record(*from_text, written);
  const auto again = read_record<T>(written);
  EXPECT_TRUE(again.has_value() && *again == *from_text) << text << " written " << written;
  const auto from_written_value = record_from_value<T>(record_to_value(*from_text));
  EXPECT_TRUE(from_written_value.has_value() && *from_written_value == *from_text) << text;
}

void read_every_way(std::string_view text) {
  auto value = parse_value(text);
  if (!value) check_error(text, value.error());
  const auto parsed = parse_text(text);
  check_scan(text, parsed);
  read_record_every_way<Claims>(text, parsed);
  read_record_every_way<Lenient>(text, parsed);
  read_record_every_way<Descriptor>(text, parsed);
  read_record_every_way<AudRec>(text, parsed);
  if (value) {
    // A parsed value is written as JSON that reads back to the same value: floats are read
    // correctly rounded and written with round-trip digits.
    auto again = parse_value(to_compact_string(*value));
    ASSERT_TRUE(again.has_value()) << text;
    EXPECT_EQ(to_compact_string(*again), to_compact_string(*value)) << text;
  }
}

TEST(Robustness, EveryPrefix) {
  for (const std::string& doc : documents()) {
    ASSERT_TRUE(parse_value(doc).has_value() || read_record<Lenient>(doc).has_value()) << doc;
    for (std::size_t n = 0; n < doc.size(); ++n) {
      const std::string prefix = doc.substr(0, n);
      read_every_way(prefix);
      // A proper prefix of one object or array is never a whole value.
      auto v = parse_value(prefix);
      EXPECT_FALSE(v.has_value()) << prefix;
      if (!v) {
        EXPECT_TRUE(v.error().has_position());
      }
    }
  }
}

TEST(Robustness, EveryByteReplaced) {
  const char replacements[] = {'\0', '"', '\\',   '{',    '}',    '[',   ']', ',',
                               ':',  'n', '-',    '0',    'e',    '.',   ' ', '\n',
                               'u',  'x', '\x7f', '\x80', '\xC3', '\xFF'};
  for (const std::string& doc : documents()) {
    for (std::size_t i = 0; i < doc.size(); ++i) {
      for (char r : replacements) {
        std::string text = doc;
        text[i] = r;
        read_every_way(text);
      }
    }
  }
}

TEST(Robustness, RandomBytes) {
  std::mt19937 rng(20240611);
  const std::string alphabet = "{}[],:\"\\ntrfalseu0123456789.eE+- \t\n\x80\xBF\xC3\xE2\xF0\xFF";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const std::size_t size = rng() % 64;
    for (std::size_t i = 0; i < size; ++i) {
      text += (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
    }
    read_every_way(text);
  }
}

TEST(Robustness, DeepNestingDoesNotExhaustTheStack) {
  const std::string deep_arrays = std::string(100000, '[');
  EXPECT_EQ(parse_value(deep_arrays).error().full(),
            "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(check_duplicate_keys(deep_arrays), "recursion limit exceeded at line 1 column 128");
  // A skipped value has the same nesting limit as any other.
  const std::string skipped =
      "{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + ",\"alg\":\"a\"}";
  EXPECT_EQ(read_record<Lenient>(skipped).error().full(),
            "recursion limit exceeded at line 1 column 132");
}

// Names picked so that an unkeyed string hash sends them all into the first sixty-fourth of a
// name table: with such a hash, probing makes reading the object quadratic (seconds here).
// Reading them must cost about what reading ordinary names does.
TEST(Robustness, CraftedNamesDoNotMakeLargeObjectsQuadratic) {
  constexpr std::size_t kNames = 20000;
  constexpr std::size_t kSlots = 65536;  // the tables' size for this many names
  std::string crafted = "{";
  std::string plain = "{";
  for (std::size_t found = 0, k = 0; found < kNames; ++k) {
    const std::string name = "k" + std::to_string(k);
    if ((std::hash<std::string_view>{}(name) & (kSlots - 1)) >= kSlots / 64) continue;
    crafted += "\"" + name + "\":0,";
    ++found;
  }
  for (std::size_t i = 0; i < kNames; ++i) plain += "\"k" + std::to_string(i) + "\":0,";
  crafted += "\"end\":0}";
  plain += "\"end\":0}";
  auto seconds = [](const std::string& text) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(check_duplicate_keys(text), std::nullopt);
    EXPECT_EQ(parse_value(text)->as_object().size(), kNames + 1);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const double plain_time = seconds(plain);
  const double crafted_time = seconds(crafted);
  EXPECT_LT(crafted_time, 10 * plain_time + 0.5) << plain_time;
}

}  // namespace
}  // namespace zelk::json
