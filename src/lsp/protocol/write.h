// Writers of the protocol's records as JSON values, members in the protocol's order, members that are not set
// left out.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "json/value.h"
#include "lsp/core/line_index.h"
#include "lsp/protocol/types.h"

namespace dravelin::lsp::protocol {

json::Value to_json(const Position& position);
json::Value to_json(const Range& range);
json::Value to_json(const Location& location);
json::Value to_json(const LspDiagnostic& diagnostic);
json::Value to_json(const DocumentSymbol& symbol);
json::Value to_json(const FoldingRange& range);

template <class T>
json::Value to_json_array(const std::vector<T>& items) {
  json::Array out;
  out.reserve(items.size());
  for (const T& item : items) out.push_back(to_json(item));
  return json::Value(std::move(out));
}

// The params of textDocument/publishDiagnostics; `version` only for an open document.
json::Value publish_diagnostics_params(const std::string& uri, const std::vector<LspDiagnostic>& diagnostics,
                                       std::optional<int32_t> version);

// Exactly the capabilities this server offers, for the negotiated encoding.
json::Value server_capabilities(PositionEncoding encoding);

// {"capabilities": ..., "serverInfo": {"name": "dravelin", "version": ...}}
json::Value initialize_result(PositionEncoding encoding);

}  // namespace dravelin::lsp::protocol
