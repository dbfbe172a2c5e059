// Readers of the protocol's params records. Each takes a JSON value and returns the record, or the reader's
// message for the first thing wrong with it ("missing field `position`", "invalid type: ..."). Members a
// record does not name are ignored; a member it names given twice is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "json/value.h"
#include "lsp/protocol/types.h"

namespace dravelin::lsp::protocol {

template <class T>
using ReadResult = Result<T, std::string>;

// What the server reads of InitializeParams.
struct InitializeParams {
  std::optional<std::vector<std::string>> position_encodings;  // capabilities.general.positionEncodings
  // The URIs of `workspaceFolders` when it is given and not null (an empty list included).
  std::optional<std::vector<std::string>> workspace_folders;
  std::optional<std::string> root_uri;
  json::Value initialization_options;  // null when absent
};

struct DidOpenParams {
  std::string uri;
  std::string language_id;
  int32_t version = 0;
  std::string text;
};

struct DidChangeParams {
  std::string uri;
  int32_t version = 0;
  std::vector<ContentChange> changes;
};

// The params of every request and notification that names one document and nothing else the server reads
// (didClose, documentSymbol, foldingRange, semanticTokens/full).
struct DocumentParams {
  std::string uri;
};

// hover, definition and completion.
struct PositionParams {
  std::string uri;
  Position position;
};

struct ReferenceParams {
  std::string uri;
  Position position;
  bool include_declaration = false;
};

ReadResult<InitializeParams> read_initialize_params(const json::Value& value);
ReadResult<DidOpenParams> read_did_open_params(const json::Value& value);
ReadResult<DidChangeParams> read_did_change_params(const json::Value& value);
ReadResult<DocumentParams> read_document_params(const json::Value& value, std::string_view record);
ReadResult<PositionParams> read_position_params(const json::Value& value, std::string_view record);
ReadResult<ReferenceParams> read_reference_params(const json::Value& value);

ReadResult<Position> read_position(const json::Value& value);
ReadResult<Range> read_range(const json::Value& value);

}  // namespace dravelin::lsp::protocol
