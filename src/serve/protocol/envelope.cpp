#include "serve/protocol/envelope.h"

#include <utility>

#include "json/reader.h"
#include "json/record_form.h"
#include "json/writer.h"

namespace dravelin::serve::protocol {
namespace form = json::record_form;

namespace {

// Any JSON value, a present null included (unlike an optional field, for which null is absent).
struct PresentValueCodec {
  template <class Out>
  static void write(Out& out, const std::optional<json::Value>& value) {
    if (value) out.value(*value);
    else out.null();
  }
  static form::ReadResult<std::optional<json::Value>> read(const json::Value& value) {
    return std::optional<json::Value>(value);
  }
};

}  // namespace

constexpr auto describe(std::type_identity<Request>) {
  return form::read_as_map(form::fields_of<Request>("struct Request", form::defaulted("jsonrpc", &Request::jsonrpc),
                                                    form::omitted<PresentValueCodec>("id", &Request::id),
                                                    form::defaulted("method", &Request::method),
                                                    form::defaulted("params", &Request::params)));
}

Result<Request, std::string> Request::read(const json::Value& value) { return form::read_record<Request>(value); }

bool is_valid_id(const json::Value& id) { return id.is_string() || id.is_number() || id.is_null(); }

namespace {

// The text of the value at the reader's place, or none when it cannot be read.
std::optional<std::string_view> raw_value(json::Reader& reader) {
  reader.peek();
  const size_t start = reader.offset();
  if (!reader.skip_value().ok()) return std::nullopt;
  return reader.text().substr(start, reader.offset() - start);
}

std::optional<std::string_view> raw_id(std::string_view line) {
  json::Reader reader(line);
  const int first = reader.peek();
  if (first == '{') {
    if (!reader.begin_object().ok()) return std::nullopt;
    std::optional<std::string_view> found;
    std::string key;
    for (;;) {
      auto more = reader.next_key(key);
      if (!more.ok()) return std::nullopt;
      if (!*more) break;
      if (!reader.colon().ok()) return std::nullopt;
      auto value = raw_value(reader);
      if (!value) return std::nullopt;
      if (key == "id") found = value;  // a repeated member keeps its last value
    }
    return found;
  }
  if (first == '[') {
    if (!reader.begin_array().ok()) return std::nullopt;
    for (size_t index = 0;; ++index) {
      auto more = reader.next_element();
      if (!more.ok() || !*more) return std::nullopt;
      auto value = raw_value(reader);
      if (!value) return std::nullopt;
      if (index == 1) return value;
    }
  }
  return std::nullopt;
}

}  // namespace

MessageId MessageId::of(std::string_view line, const json::Value& parsed) {
  if (auto text = raw_id(line)) return MessageId{std::string(*text)};
  return MessageId{json::to_compact(parsed)};
}

std::string result_line(const MessageId& id, const json::Value& result) {
  std::string out;
  json::Writer w(out);
  w.begin_object().key("id").raw(id.text).field_string("jsonrpc", "2.0").key("result").value(result).end_object();
  return out;
}

std::string error_line(const MessageId& id, const ErrorObject& error) {
  std::string out;
  json::Writer w(out);
  w.begin_object().key("error").value(error.to_json_value()).key("id").raw(id.text).field_string("jsonrpc", "2.0");
  w.end_object();
  return out;
}

std::string request_line(uint64_t id, std::string_view method, const json::Value& params) {
  std::string out;
  json::Writer w(out);
  w.begin_object().field_u64("id", id).field_string("jsonrpc", "2.0").field_string("method", method);
  w.key("params").value(params).end_object();
  return out;
}

std::string notification_line(std::string_view method, const json::Value& params) {
  std::string out;
  json::Writer w(out);
  w.begin_object().field_string("jsonrpc", "2.0").field_string("method", method).key("params").value(params);
  w.end_object();
  return out;
}

}  // namespace dravelin::serve::protocol
