// The IR reader on real documents that were tampered with: the golden IR of an example program with one edit
// deep inside gives the reader's message unchanged, and no edit of any value of it makes the reader crash, hang
// or answer with anything but an IR or one of its refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ir/read_json.h"
#include "ir/write_json.h"
#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::ir {
namespace {

// The compiled example `triage`, as `compile` prints it: modules, a judgment with logs, a gate, an input with a
// record shape. Objects keep their document order.
const json::Value& golden() {
  static const json::Value value = [] {
    std::ifstream in(std::filesystem::path(DRAVELIN_TESTDATA) / "compile" / "triage.json", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = json::parse(text.str());
    EXPECT_TRUE(parsed.ok()) << parsed.error().text();
    return parsed.ok() ? std::move(parsed).value() : json::Value();
  }();
  return value;
}

// The value at a path of object keys (first entry with the key) and array positions, "/tasks/0/body".
json::Value* at_path(json::Value& root, std::string_view path) {
  json::Value* here = &root;
  while (!path.empty() && here != nullptr) {
    path.remove_prefix(1);
    const size_t slash = path.find('/');
    const std::string_view step = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    if (json::Array* items = here->if_array()) {
      const size_t i = std::stoul(std::string(step));
      here = i < items->size() ? &(*items)[i] : nullptr;
    } else if (json::Object* object = here->if_object()) {
      json::Value* found = nullptr;
      for (json::Member& member : object->entries()) {
        if (member.key == step) {
          found = &member.value;
          break;
        }
      }
      here = found;
    } else {
      here = nullptr;
    }
  }
  return here;
}

enum class Edit { Set, Remove, Repeat };

struct TamperCase {
  const char* name;
  const char* object;  // path of the object edited
  Edit edit;
  const char* key;
  const char* value;  // JSON text, for Set and Repeat
  const char* error;
};

void PrintTo(const TamperCase& c, std::ostream* out) { *out << c.name; }

json::Value tampered(const TamperCase& c) {
  json::Value doc = golden();
  json::Value* target = at_path(doc, c.object);
  EXPECT_TRUE(target != nullptr && target->is_object()) << c.object;
  if (target == nullptr || !target->is_object()) return doc;
  std::vector<json::Member>& entries = target->as_object().entries();
  if (c.edit == Edit::Remove) {
    std::erase_if(entries, [&](const json::Member& m) { return m.key == c.key; });
    return doc;
  }
  auto value = json::parse(c.value);
  EXPECT_TRUE(value.ok()) << c.value;
  if (c.edit == Edit::Repeat) {
    entries.push_back(json::Member{c.key, *value});
    return doc;
  }
  for (json::Member& m : entries) {
    if (m.key == c.key) {
      m.value = *value;
      return doc;
    }
  }
  entries.push_back(json::Member{c.key, *value});
  return doc;
}

class TamperedGolden : public testing::TestWithParam<TamperCase> {};

TEST_P(TamperedGolden, IsRefusedWithTheDeepestFault) {
  const TamperCase& c = GetParam();
  auto read = read_ir_json(tampered(c));
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error(), c.error);
}

TEST(TamperedGolden, UntouchedReadsAndWritesBackTheSameDocument) {
  auto read = read_ir_json(golden());
  ASSERT_TRUE(read.ok()) << read.error();
  EXPECT_EQ(ir_program_to_json_value(*read), golden());
}

INSTANTIATE_TEST_SUITE_P(
    IrRead, TamperedGolden,
    testing::Values(
        TamperCase{"SpanOfAStatementRemoved", "/tasks/0/body/3", Edit::Remove, "span", "", "missing field `span`"},
        TamperCase{"GateArmVerdictUnknown", "/tasks/0/body/3/arms/1", Edit::Set, "verdict", R"("maybe")",
                   "unknown variant `maybe`, expected one of `proceed`, `confirm`, `escalate`, `stop`"},
        TamperCase{"LabelDescriptionTwice", "/tasks/0/body/0/value/verb/labels/0", Edit::Repeat, "description",
                   "null", "duplicate field `description`"},
        TamperCase{"RequestGroupNegative", "/judgments/0/results/0/question", Edit::Set, "request_group", "-1",
                   "invalid value: integer `-1`, expected u32"},
        TamperCase{"LogAfterFloat", "/judgments/0/logs/0", Edit::Set, "after", "1.0",
                   "invalid type: floating point `1.0`, expected u32"},
        TamperCase{"ModuleMappingKindByIndex", "/modules/1/mapping/0", Edit::Set, "kind", "2",
                   "invalid type: integer `2`, expected string or map"},
        TamperCase{"InputFieldShapeWithoutTag", "/inputs/0/shape/fields/1", Edit::Set, "shape", "{}",
                   "missing field `shape`"},
        TamperCase{"PositionOutOfRange", "/tasks/1/span/end", Edit::Set, "offset", "4294967296",
                   "invalid value: integer `4294967296`, expected u32"},
        TamperCase{"TaskBodyNull", "/tasks/1", Edit::Set, "body", "null", "invalid type: null, expected a sequence"},
        TamperCase{"ExpressionTagUnknown", "/tasks/0/body/4/value", Edit::Set, "node", R"("variable")",
                   "unknown variant `variable`, expected one of `number`, `text`, `bool`, `none`, `name`, `list`, "
                   "`record`, `field`, `index`, `call`, `unary`, `binary`, `is`, `comprehension`, `focus`, `trail`, "
                   "`judge`, `log`"},
        TamperCase{"RootProgramMissing", "", Edit::Remove, "program", "", "missing field `program`"}),
    [](const testing::TestParamInfo<TamperCase>& info) { return std::string(info.param.name); });

// ---- every value of the document replaced, every key removed or repeated ----

bool is_refusal_text(const std::string& message) {
  for (std::string_view start : {"invalid type: ", "invalid value: ", "invalid length ", "missing field `",
                                 "duplicate field `", "unknown variant `"}) {
    if (message.rfind(start, 0) == 0) return true;
  }
  return false;
}

// Reads the edited document: either an IR that writes out and reads back to itself, or one of the refusals.
void expect_ir_or_refusal(const json::Value& doc, const std::string& what) {
  auto read = read_ir_json(doc);
  if (!read.ok()) {
    EXPECT_TRUE(is_refusal_text(read.error())) << what << ": " << read.error();
    return;
  }
  auto again = read_ir_json(ir_program_to_json_value(*read));
  ASSERT_TRUE(again.ok()) << what << ": " << again.error();
  EXPECT_TRUE(*again == *read) << what;
}

// One value for each place in the tree, by its path of positions (array elements and object entries alike): the
// first value met under each path of keys, array positions left out, so that every field of every record that the
// document holds is edited once without editing each of its thousands of positions. Spans are read alike wherever
// they stand, so only the first is edited.
struct Place {
  std::string keys;           // "/tasks[]:assign/value", for messages
  std::vector<size_t> path;  // positions from the root
};

void collect_places(const json::Value& value, const std::string& keys, std::vector<size_t>& path,
                    std::set<std::string>& seen, std::vector<Place>& out) {
  if (!seen.insert(keys).second) return;
  out.push_back(Place{keys, path});
  if (const json::Array* items = value.if_array()) {
    for (size_t i = 0; i < items->size(); ++i) {
      path.push_back(i);
      collect_places((*items)[i], keys + "[]", path, seen, out);
      path.pop_back();
    }
  } else if (const json::Object* object = value.if_object()) {
    for (size_t i = 0; i < object->size(); ++i) {
      const json::Member& member = object->entries()[i];
      // A tagged node's keys depend on its variant: the tag is part of where the value stands.
      std::string tag;
      for (const json::Member& m : *object) {
        if (m.value.is_string() && (m.key == "node" || m.key == "stmt" || m.key == "verb" || m.key == "shape")) {
          tag = ":" + m.value.as_string();
        }
      }
      const std::string here = member.key == "span" ? "/span" : keys + tag + "/" + member.key;
      path.push_back(i);
      collect_places(member.value, here, path, seen, out);
      path.pop_back();
    }
  }
}

json::Value* at_positions(json::Value& root, const std::vector<size_t>& path, json::Object** parent = nullptr,
                          size_t* entry = nullptr) {
  json::Value* here = &root;
  for (size_t i : path) {
    if (here->is_array()) {
      here = &here->as_array()[i];
      if (parent) *parent = nullptr;
    } else {
      if (parent) *parent = &here->as_object();
      if (entry) *entry = i;
      here = &here->as_object().entries()[i].value;
    }
  }
  return here;
}

TEST(TamperedGolden, NoEditOfAnyValueBreaksTheReader) {
  std::vector<Place> places;
  std::vector<size_t> path;
  std::set<std::string> seen;
  collect_places(golden(), "", path, seen, places);
  const std::vector<json::Value> replacements = {
      json::Value(),  true, json::Value(int64_t{-1}), json::Value(uint64_t{4294967296}), json::Value(1.5),
      json::Value("x"), json::Value::array(), json::Value::object(), json::Value(uint64_t{0})};
  // One copy of the document, edited in place and put back after each read.
  json::Value doc = golden();
  for (const Place& place : places) {
    const std::string& where = place.keys;
    json::Object* parent = nullptr;
    size_t entry = 0;
    json::Value& target = *at_positions(doc, place.path, &parent, &entry);
    for (const json::Value& replacement : replacements) {
      json::Value original = std::exchange(target, replacement);
      expect_ir_or_refusal(doc, where + " replaced by " + json::to_compact(replacement));
      target = std::move(original);
    }
    if (parent == nullptr) continue;
    std::vector<json::Member>& entries = parent->entries();
    const auto position = entries.begin() + static_cast<std::ptrdiff_t>(entry);
    json::Member member = *position;
    entries.erase(position);
    expect_ir_or_refusal(doc, where + " removed");
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(entry), member);
    entries.push_back(member);
    expect_ir_or_refusal(doc, where + " repeated");
    entries.pop_back();
  }
  EXPECT_EQ(doc, golden());
}

}  // namespace
}  // namespace dravelin::ir
