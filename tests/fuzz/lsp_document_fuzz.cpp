// A document's text through the language server: opened, asked every request at places spread over it, edited
// in its middle, and asked again; every request gets exactly one answer.
#include <algorithm>
#include <set>

#include "fuzz_target.h"
#include "json/reader.h"
#include "json/writer.h"
#include "lsp/server/server_loop.h"
#include "scripted_connection.h"
#include "syntax/utf8.h"

using namespace dravelin;
using lsp::transport::Message;
using lsp::transport::Notification;
using lsp::transport::Request;

namespace {

constexpr std::string_view kUri = "untitled:fuzzed";
constexpr std::string_view kMethods[] = {
    "textDocument/hover",        "textDocument/definition",     "textDocument/references",
    "textDocument/completion",   "textDocument/foldingRange",   "textDocument/documentSymbol",
    "textDocument/semanticTokens/full",
};

json::Value object_of(std::string_view text) { return json::parse(text).value(); }

json::Value position(size_t line, size_t character) {
  return object_of(R"({"line":)" + std::to_string(line) + R"(,"character":)" + std::to_string(character) + "}");
}

// The places asked about: the start, middle and end (and one past it) of a few lines spread over the text.
std::vector<std::pair<size_t, size_t>> places(std::string_view text) {
  std::vector<size_t> lengths{0};
  for (char c : text) {
    if (c == '\n') lengths.push_back(0);
    else ++lengths.back();
  }
  std::vector<std::pair<size_t, size_t>> out;
  const size_t step = std::max<size_t>(1, lengths.size() / 6);
  for (size_t line = 0; line < lengths.size(); line += step) {
    for (size_t character : {size_t{0}, lengths[line] / 2, lengths[line], lengths[line] + 1}) out.emplace_back(line, character);
  }
  out.emplace_back(lengths.size() + 3, 0);
  return out;
}

void ask_everything(std::vector<Message>& batch, int64_t& next_id, std::string_view text) {
  const std::string document = R"({"uri":)" + json::escape_string(kUri) + "}";
  for (const auto& [line, character] : places(text)) {
    for (std::string_view method : kMethods) {
      json::Object params;
      params.append("textDocument", object_of(document));
      params.append("position", position(line, character));
      if (method == "textDocument/references") params.append("context", object_of(R"({"includeDeclaration":true})"));
      batch.push_back(Request{json::Value(next_id++), std::string(method), json::Value(std::move(params))});
    }
  }
}

}  // namespace

DRAVELIN_FUZZ_TARGET(lsp_document) {
  // Protocol texts are JSON strings, so the client has already made the bytes text.
  std::string text(bytes);
  if (!syntax::is_valid_utf8(text)) {
    text.clear();
    for (unsigned char c : bytes) text += (c < 0x80) ? std::string(1, static_cast<char>(c)) : std::string("\xc3\xa9");
  }

  std::vector<Message> handshake;
  handshake.push_back(Request{json::Value(0), "initialize", object_of(R"({"capabilities":{}})")});
  handshake.push_back(Notification{"initialized", json::Value()});

  int64_t next_id = 1;
  std::vector<Message> opened;
  opened.push_back(Notification{"textDocument/didOpen",
                                object_of(R"({"textDocument":{"uri":)" + json::escape_string(kUri) +
                                          R"(,"languageId":"dravelin","version":1,"text":)" +
                                          json::escape_string(text) + "}}")});
  ask_everything(opened, next_id, text);

  // An edit in the middle of the text: the middle line loses its second half.
  const auto spots = places(text);
  const auto [line, character] = spots[spots.size() / 2];
  std::vector<Message> edited;
  edited.push_back(Notification{
      "textDocument/didChange",
      object_of(R"({"textDocument":{"uri":)" + json::escape_string(kUri) + R"(,"version":2},"contentChanges":[)" +
                R"({"range":{"start":)" + json::to_compact(position(line, character)) + R"(,"end":)" +
                json::to_compact(position(line + 1, 0)) + R"(},"text":"\n  x = 1\n"}]})")});
  ask_everything(edited, next_id, text);
  edited.push_back(Request{json::Value(next_id++), "shutdown", json::Value()});
  edited.push_back(Notification{"exit", json::Value()});

  fuzz::ScriptedConnection connection({std::move(handshake), std::move(opened), std::move(edited)});
  auto ended = lsp::server_main_loop(connection);
  if (!ended.ok()) return fuzz::broken("the server ended with an error: " + ended.error());

  std::set<int64_t> answered;
  for (const Message& m : connection.sent) {
    const auto* response = std::get_if<lsp::transport::Response>(&m);
    if (response == nullptr) continue;
    if (!response->id.is_integer()) return fuzz::broken("a response without the request's id");
    const int64_t id = response->id.is_int() ? response->id.as_int() : static_cast<int64_t>(response->id.as_uint());
    if (!answered.insert(id).second) return fuzz::broken("a request was answered twice");
    if (response->error && response->error->code != lsp::transport::error_code::kInvalidParams)
      return fuzz::broken("a request failed: " + response->error->message);
  }
  if (answered.size() != static_cast<size_t>(next_id)) return fuzz::broken("a request went unanswered");
  return fuzz::holds();
}
