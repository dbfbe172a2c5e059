// The shared record-reading rules: array forms and their messages, records read as maps, entries kept aside,
// and field-less enumerations.
#include "json/record_read.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/reader.h"

namespace dravelin::json::record_read {
namespace {

Value parse_doc(std::string_view text) {
  auto parsed = json::parse(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? std::move(parsed).value() : Value();
}

constexpr Field kOneField[] = {{"name", true}};
constexpr Field kTwoFields[] = {{"a", true}, {"b", false}};

// Reads the record and returns the fields met, as "index=json" texts, or the error.
std::string read(std::string_view text, const RecordForm& form, std::vector<std::string>* others = nullptr) {
  std::string seen;
  const OtherVisitor keep = [&](const Member& entry) -> ReadResult<Unit> {
    others->push_back(entry.key);
    return Unit{};
  };
  auto result = read_record(
      parse_doc(text), form,
      [&](size_t field, const Value& value) -> ReadResult<Unit> {
        seen += std::to_string(field) + "=" + (value.is_string() ? value.as_string() : "?") + ";";
        return Unit{};
      },
      0, others ? &keep : nullptr);
  return result.ok() ? seen : result.error();
}

TEST(RecordRead, ArrayMessagesAndForms) {
  struct Case {
    std::string name;
    std::string json;
    RecordForm form;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"one field, none given", "[]", {"struct One", kOneField}, "invalid length 0, expected struct One with 1 element"},
      {"one field, two given", R"(["x","y"])", {"struct One", kOneField},
       "invalid length 2, expected 1 element in sequence"},
      {"read as a map: too many", R"(["x","y","z"])", {"struct Two", kTwoFields, true, Origin::Map},
       "invalid length 3, expected fewer elements in array"},
      {"optional trailing field", R"(["x"])", {"struct Two", kTwoFields}, "0=x;"},
      {"arrays refused", R"(["x"])", {"struct Two", kTwoFields, false}, "invalid type: sequence, expected struct Two"},
      {"repeated key refused", R"({"a":"x","a":"y"})", {"struct Two", kTwoFields}, "duplicate field `a`"},
      {"read as a map: last repeat in key order", R"({"b":"2","a":"x","a":"y"})",
       {"struct Two", kTwoFields, true, Origin::Map}, "0=y;1=2;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.json, c.form), c.expected);
  }
}

TEST(RecordRead, OtherEntriesGoToTheirVisitorInOrder) {
  std::vector<std::string> others;
  EXPECT_EQ(read(R"({"z":1,"a":"x","m":[],"z":2})", {"struct Two", kTwoFields}, &others), "0=x;");
  EXPECT_EQ(others, (std::vector<std::string>{"z", "m", "z"}));
}

TEST(UnitVariantRead, NamesAndUnitObjects) {
  constexpr std::string_view kNames[] = {"on", "off"};
  struct Case {
    std::string json;
    bool empty_object_is_unit;
    std::string expected;  // the index, or the error
  };
  const std::vector<Case> cases = {
      {R"("off")", true, "1"},
      {R"({"on":null})", false, "0"},
      {R"({"on":{}})", true, "0"},
      {R"({"on":{}})", false, "invalid type: map, expected unit"},
      {R"({"on":[]})", true, "invalid type: sequence, expected unit"},
      {R"({"up":1})", true, "unknown variant `up`, expected `on` or `off`"},
      {R"({})", true, "invalid value: map, expected map with a single key"},
      {R"(0)", true, "invalid type: integer `0`, expected string or map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    auto result = read_unit_variant(parse_doc(c.json), kNames, c.empty_object_is_unit);
    EXPECT_EQ(result.ok() ? std::to_string(*result) : result.error(), c.expected);
  }
}

}  // namespace
}  // namespace dravelin::json::record_read
