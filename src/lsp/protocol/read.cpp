#include "lsp/protocol/read.h"

#include <limits>
#include <utility>

#include "json/reader.h"
#include "json/record_read.h"
#include "lsp/core/uri.h"

namespace dravelin::lsp::protocol {
namespace {

namespace rr = json::record_read;

// The members of one JSON object, looked up by name.
class Members {
 public:
  static ReadResult<Members> of(const json::Value& value, std::string_view record) {
    const json::Object* object = value.if_object();
    if (object == nullptr) return err(json::invalid_type_message(value, "struct " + std::string(record)));
    return Members(*object);
  }

  // Nothing when the member is absent.
  ReadResult<const json::Value*> optional(std::string_view key) const {
    if (object_->count(key) > 1) return err(json::duplicate_field_message(key));
    return object_->find(key);
  }

 private:
  explicit Members(const json::Object& object) : object_(&object) {}
  const json::Object* object_;
};

// Result cannot hold a reference: `required` hands out a pointer that is never null.
ReadResult<const json::Value*> required(const Members& members, std::string_view key) {
  const json::Value* value = TRY(members.optional(key));
  if (value == nullptr) return err(json::missing_field_message(key));
  return value;
}

ReadResult<int32_t> read_i32(const json::Value& value) {
  if (std::optional<int64_t> n = value.to_i64()) {
    if (*n >= std::numeric_limits<int32_t>::min() && *n <= std::numeric_limits<int32_t>::max())
      return static_cast<int32_t>(*n);
    return err(json::invalid_value_message(value, "i32"));
  }
  if (value.is_uint()) return err(json::invalid_value_message(value, "i32"));
  return err(json::invalid_type_message(value, "i32"));
}

ReadResult<bool> read_bool(const json::Value& value) {
  if (value.is_bool()) return value.as_bool();
  return err(json::invalid_type_message(value, "a boolean"));
}

ReadResult<std::string> read_uri(const json::Value& value) {
  std::string text = TRY(rr::read_string(value));
  if (!is_uri(text)) return err(json::invalid_value_message(value, "a URI"));
  return text;
}

// `textDocument`: an object whose `uri` is read; the other members by `more`.
template <class More>
ReadResult<std::string> read_text_document(const Members& params, More&& more) {
  const json::Value* document = TRY(required(params, "textDocument"));
  Members members = TRY(Members::of(*document, "TextDocumentIdentifier"));
  std::string uri = TRY(read_uri(*TRY(required(members, "uri"))));
  TRY(more(members));
  return uri;
}

ReadResult<std::string> read_text_document(const Members& params) {
  return read_text_document(params, [](const Members&) -> ReadResult<Unit> { return Unit{}; });
}

ReadResult<ContentChange> read_content_change(const json::Value& value) {
  Members members = TRY(Members::of(value, "TextDocumentContentChangeEvent"));
  ContentChange change;
  if (const json::Value* range = TRY(members.optional("range")); range != nullptr && !range->is_null())
    change.range = TRY(read_range(*range));
  if (const json::Value* length = TRY(members.optional("rangeLength")); length != nullptr && !length->is_null())
    TRY(rr::read_u32(*length));
  change.text = TRY(rr::read_string(*TRY(required(members, "text"))));
  return change;
}

ReadResult<std::optional<std::vector<std::string>>> read_position_encodings(const Members& params) {
  using Out = std::optional<std::vector<std::string>>;
  const json::Value* capabilities = TRY(required(params, "capabilities"));
  Members client = TRY(Members::of(*capabilities, "ClientCapabilities"));
  const json::Value* general = TRY(client.optional("general"));
  if (general == nullptr || general->is_null()) return Out();
  Members members = TRY(Members::of(*general, "GeneralClientCapabilities"));
  const json::Value* encodings = TRY(members.optional("positionEncodings"));
  if (encodings == nullptr || encodings->is_null()) return Out();
  return Out(TRY(rr::read_string_list(*encodings)));
}

ReadResult<std::optional<std::vector<std::string>>> read_workspace_folders(const Members& params) {
  using Out = std::optional<std::vector<std::string>>;
  const json::Value* folders = TRY(params.optional("workspaceFolders"));
  if (folders == nullptr || folders->is_null()) return Out();
  return Out(TRY(rr::read_list<std::string>(*folders, [](const json::Value& folder) -> ReadResult<std::string> {
    Members members = TRY(Members::of(folder, "WorkspaceFolder"));
    std::string uri = TRY(read_uri(*TRY(required(members, "uri"))));
    TRY(rr::read_string(*TRY(required(members, "name"))));
    return uri;
  })));
}

}  // namespace

ReadResult<Position> read_position(const json::Value& value) {
  Members members = TRY(Members::of(value, "Position"));
  const uint32_t line = TRY(rr::read_u32(*TRY(required(members, "line"))));
  const uint32_t character = TRY(rr::read_u32(*TRY(required(members, "character"))));
  return Position{line, character};
}

ReadResult<Range> read_range(const json::Value& value) {
  Members members = TRY(Members::of(value, "Range"));
  Position start = TRY(read_position(*TRY(required(members, "start"))));
  Position end = TRY(read_position(*TRY(required(members, "end"))));
  return Range{start, end};
}

ReadResult<InitializeParams> read_initialize_params(const json::Value& value) {
  Members params = TRY(Members::of(value, "InitializeParams"));
  InitializeParams out;
  if (const json::Value* process = TRY(params.optional("processId")); process != nullptr && !process->is_null())
    TRY(rr::read_u32(*process));
  out.position_encodings = TRY(read_position_encodings(params));
  out.workspace_folders = TRY(read_workspace_folders(params));
  if (const json::Value* root = TRY(params.optional("rootUri")); root != nullptr && !root->is_null())
    out.root_uri = TRY(read_uri(*root));
  if (const json::Value* options = TRY(params.optional("initializationOptions")))
    out.initialization_options = *options;
  return out;
}

ReadResult<DidOpenParams> read_did_open_params(const json::Value& value) {
  Members params = TRY(Members::of(value, "DidOpenTextDocumentParams"));
  const json::Value* item = TRY(required(params, "textDocument"));
  Members members = TRY(Members::of(*item, "TextDocumentItem"));
  DidOpenParams out;
  out.uri = TRY(read_uri(*TRY(required(members, "uri"))));
  out.language_id = TRY(rr::read_string(*TRY(required(members, "languageId"))));
  out.version = TRY(read_i32(*TRY(required(members, "version"))));
  out.text = TRY(rr::read_string(*TRY(required(members, "text"))));
  return out;
}

ReadResult<DidChangeParams> read_did_change_params(const json::Value& value) {
  Members params = TRY(Members::of(value, "DidChangeTextDocumentParams"));
  DidChangeParams out;
  out.uri = TRY(read_text_document(params, [&](const Members& document) -> ReadResult<Unit> {
    out.version = TRY(read_i32(*TRY(required(document, "version"))));
    return Unit{};
  }));
  out.changes = TRY(rr::read_list<ContentChange>(*TRY(required(params, "contentChanges")), read_content_change));
  return out;
}

ReadResult<DocumentParams> read_document_params(const json::Value& value, std::string_view record) {
  Members params = TRY(Members::of(value, record));
  return DocumentParams{TRY(read_text_document(params))};
}

ReadResult<PositionParams> read_position_params(const json::Value& value, std::string_view record) {
  Members params = TRY(Members::of(value, record));
  PositionParams out;
  out.uri = TRY(read_text_document(params));
  out.position = TRY(read_position(*TRY(required(params, "position"))));
  return out;
}

ReadResult<ReferenceParams> read_reference_params(const json::Value& value) {
  Members params = TRY(Members::of(value, "ReferenceParams"));
  ReferenceParams out;
  out.uri = TRY(read_text_document(params));
  out.position = TRY(read_position(*TRY(required(params, "position"))));
  Members context = TRY(Members::of(*TRY(required(params, "context")), "ReferenceContext"));
  out.include_declaration = TRY(read_bool(*TRY(required(context, "includeDeclaration"))));
  return out;
}

}  // namespace dravelin::lsp::protocol
