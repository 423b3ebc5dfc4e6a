#include <gtest/gtest.h>

#include <string>

#include "formats/json/canonical.hpp"
#include "formats/json/parse.hpp"
#include "test_records.hpp"

namespace zelk::json {
namespace {

using namespace testing;

TEST(RecordWrite, DeclaredOrderAndAbsentMembersLeftOut) {
  Descriptor d{IdentityType::PinnedKey, std::nullopt, "sub\"ject", std::nullopt};
  EXPECT_EQ(to_json_string(d), R"({"type":"pinned_key","subject":"sub\"ject"})");
  const Value v = record_to_value(d);
  ASSERT_TRUE(v.is_object());
  ASSERT_EQ(v.as_object().size(), 2u);
  EXPECT_EQ(v.as_object().begin()->name, "type");
  EXPECT_EQ(*v.as_object().find("type"), Value("pinned_key"));
  EXPECT_EQ(to_compact_string(v), to_json_string(d));
}

TEST(RecordWrite, AllMemberKinds) {
  Claims c;
  c.ver = "zelk/0.2";
  c.grants = {"a", "b"};
  c.cnf.jkt = "t";
  c.payload = *parse_value(R"({"z":[1,-2,1.5,true,null],"a":"x"})");
  c.note = "n";
  c.ext = Object();
  const std::string expected =
      R"({"ver":"zelk/0.2","grants":["a","b"],"cnf":{"jkt":"t"},)"
      R"("payload":{"z":[1,-2,1.5,true,null],"a":"x"},"note":"n","ext":{}})";
  EXPECT_EQ(to_json_string(c), expected);
  EXPECT_EQ(to_compact_string(record_to_value(c)), expected);
  // What is written reads back as the same record, from text and from its value.
  EXPECT_EQ(read_record<Claims>(expected).value(), c);
  EXPECT_EQ(record_from_value<Claims>(record_to_value(c)).value(), c);

  Rec r{INT64_MIN, 0};
  EXPECT_EQ(to_json_string(r), R"({"n":-9223372036854775808,"m":0})");
  Unsigned u{UINT64_MAX};
  EXPECT_EQ(to_json_string(u), R"({"u":18446744073709551615})");
  Flags f{true, 0.1};
  EXPECT_EQ(to_json_string(f), R"({"on":true,"ratio":0.1})");
  IdRec id{*parse_uuid("67E55044-10B1-426F-9247-BB680E5FE0C8")};
  EXPECT_EQ(to_json_string(id), R"({"id":"67e55044-10b1-426f-9247-bb680e5fe0c8"})");
  EXPECT_EQ(record_to_value(id).as_object().begin()->value,
            Value("67e55044-10b1-426f-9247-bb680e5fe0c8"));
}

TEST(RecordWrite, WriteNullAndSortedMaps) {
  auto c = read_record<Commit>(R"({"tct":"t","extensions":{"b":1,"a":2,"B":3}})");
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(to_json_string(*c),
            R"({"tct":"t","grant_voucher":null,"extensions":{"B":3,"a":2,"b":1}})");
  EXPECT_EQ(to_compact_string(record_to_value(*c)), to_json_string(*c));
}

// A member read as usual but written its own way.
struct UpperCodec : Codec<std::string> {
  static void write(const std::string& v, std::string& out) {
    std::string upper = v;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    write_json_string(upper, out);
  }
  static Value to_value(const std::string& v) {
    std::string out;
    write(v, out);
    return Value(out.substr(1, out.size() - 2));
  }
};
struct Shout {
  std::string word;
  std::optional<std::string> echo;
};

}  // namespace

template <>
struct RecordTraits<Shout> {
  static constexpr std::string_view name = "Shout";
  static constexpr std::tuple members{
      member::required("word", &Shout::word, via<UpperCodec>),
      member::optional("echo", &Shout::echo, via<UpperCodec>),
  };
};

namespace {

TEST(RecordWrite, CustomMemberWriter) {
  auto s = read_record<Shout>(R"({"word":"hey","echo":"ho"})");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->word, "hey");
  EXPECT_EQ(to_json_string(*s), R"({"word":"HEY","echo":"HO"})");
  EXPECT_EQ(to_compact_string(record_to_value(*s)), R"({"word":"HEY","echo":"HO"})");
}

TEST(RecordWrite, CanonicalFormIgnoresNullOptionals) {
  auto with_null = read_record<Descriptor>(R"({"subject":"s","type":"oidc","issuer":null})");
  auto without = read_record<Descriptor>(R"(["oidc",null,"s"])");
  ASSERT_TRUE(with_null && without);
  EXPECT_EQ(canonical_json(record_to_value(*with_null)).value(),
            canonical_json(record_to_value(*without)).value());
  EXPECT_EQ(canonical_json(record_to_value(*without)).value(), R"({"subject":"s","type":"oidc"})");
}

TEST(ObjectIndex, LargeObjectsStayLinear) {
  std::string text = "{";
  for (int i = 0; i < 100000; ++i)
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"k5\":\"last\"}";
  auto v = parse_value(text);
  ASSERT_TRUE(v.has_value());
  const Object& o = v->as_object();
  EXPECT_EQ(o.size(), 100000u);
  EXPECT_EQ(*o.find("k5"), Value("last"));
  EXPECT_EQ(o.begin()[5].name, "k5");
  EXPECT_EQ(*o.find("k99999"), Value(99999));
  EXPECT_EQ(o.find("k100000"), nullptr);
  Object sorted = o;
  sorted.sort_by_name();
  EXPECT_EQ(sorted.begin()->name, "k0");
  EXPECT_EQ(sorted.begin()[1].name, "k1");
  EXPECT_EQ(*sorted.find("k5"), Value("last"));
  sorted.insert_or_assign("k5", Value(5));
  EXPECT_EQ(sorted.size(), 100000u);
  EXPECT_EQ(*sorted.find("k5"), Value(5));
}

TEST(ObjectIndex, SmallAndGrowing) {
  Object o;
  for (int i = 0; i < 40; ++i) {
    o.insert_or_assign("n" + std::to_string(i % 20), Value(i));
    ASSERT_EQ(*o.find("n" + std::to_string(i % 20)), Value(i));
  }
  EXPECT_EQ(o.size(), 20u);
  EXPECT_EQ(o.begin()->name, "n0");
  EXPECT_EQ(o.begin()->value, Value(20));
  Object copy = o;
  EXPECT_EQ(copy, o);
  EXPECT_EQ(*copy.find("n19"), Value(39));
}

}  // namespace
}  // namespace zelk::json
