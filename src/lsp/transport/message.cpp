#include "lsp/transport/message.h"

#include <utility>

#include "json/reader.h"
#include "json/writer.h"

namespace dravelin::lsp::transport {
namespace {

bool is_valid_id(const json::Value& id) { return id.is_string() || id.is_integer(); }

Result<Message, MalformedMessage> invalid(std::string message, json::Value id = nullptr) {
  return err(MalformedMessage{error_code::kInvalidRequest, std::move(message), std::move(id)});
}

Result<ResponseError, std::string> read_response_error(const json::Value& value) {
  const json::Value* code = value.find("code");
  const json::Value* message = value.find("message");
  if (code == nullptr || !code->to_i64() || message == nullptr || !message->is_string())
    return err(std::string("a response error needs an integer `code` and a text `message`"));
  ResponseError error{*code->to_i64(), message->as_string(), std::nullopt};
  if (const json::Value* data = value.find("data")) error.data = *data;
  return error;
}

}  // namespace

Result<Message, MalformedMessage> parse_message(std::string_view body) {
  auto parsed = json::parse(body);
  if (!parsed.ok()) {
    return err(MalformedMessage{error_code::kParseError, parsed.error().text(), nullptr});
  }
  json::Value value = std::move(parsed).value();
  if (!value.is_object()) return invalid("a message must be a JSON object");
  const json::Value* id = value.find("id");
  const json::Value* method = value.find("method");
  if (id != nullptr && !is_valid_id(*id)) return invalid("a message `id` must be an integer or a text");
  json::Value id_value = id != nullptr ? *id : json::Value();
  if (method != nullptr) {
    if (!method->is_string()) return invalid("a message `method` must be a text", id_value);
    json::Value params;
    if (json::Value* p = value.find("params")) params = std::move(*p);
    if (id != nullptr) return Message(Request{std::move(id_value), method->as_string(), std::move(params)});
    return Message(Notification{method->as_string(), std::move(params)});
  }
  if (id == nullptr) return invalid("a message needs a `method` or an `id`");
  Response response{std::move(id_value), std::nullopt, std::nullopt};
  if (const json::Value* error = value.find("error")) {
    auto read = read_response_error(*error);
    if (!read.ok()) return invalid(std::move(read).error(), response.id);
    response.error = std::move(read).value();
  } else if (json::Value* result = value.find("result")) {
    response.result = std::move(*result);
  } else {
    return invalid("a response needs a `result` or an `error`", response.id);
  }
  return Message(std::move(response));
}

namespace {

void write_message(json::Writer& w, const Message& message) {
  w.begin_object().field_string("jsonrpc", "2.0");
  if (const auto* request = std::get_if<Request>(&message)) {
    w.field_value("id", request->id).field_string("method", request->method);
    if (!request->params.is_null()) w.field_value("params", request->params);
  } else if (const auto* note = std::get_if<Notification>(&message)) {
    w.field_string("method", note->method);
    if (!note->params.is_null()) w.field_value("params", note->params);
  } else {
    const auto& response = std::get<Response>(message);
    w.field_value("id", response.id);
    if (response.error) {
      w.key("error").begin_object().field_i64("code", response.error->code);
      w.field_string("message", response.error->message);
      if (response.error->data) w.field_value("data", *response.error->data);
      w.end_object();
    } else {
      w.field_value("result", response.result ? *response.result : json::Value());
    }
  }
  w.end_object();
}

}  // namespace

std::string message_to_json(const Message& message) {
  std::string out;
  json::Writer w(out);
  write_message(w, message);
  return out;
}

std::string render_message(const Message& message) { return message_to_json(message); }

Response make_result(json::Value id, json::Value result) {
  return Response{std::move(id), std::move(result), std::nullopt};
}

Response make_error(json::Value id, int64_t code, std::string message) {
  return Response{std::move(id), std::nullopt, ResponseError{code, std::move(message), std::nullopt}};
}

}  // namespace dravelin::lsp::transport
