#include "lsp/server/requests.h"

#include <string_view>

#include "lsp/core/outline.h"
#include "lsp/protocol/read.h"
#include "lsp/protocol/write.h"

namespace dravelin::lsp {
namespace {

using protocol::ReadResult;

// The result of a request, or the message of params that did not read.
using Handler = ReadResult<json::Value> (*)(World& world, const json::Value& params);

// Hover, definition, references, completion and highlighting read the names that the body walk of the symbol
// index records; until it records them, each answers that it knows nothing at that place.

ReadResult<json::Value> hover(World&, const json::Value& params) {
  TRY(protocol::read_position_params(params, "HoverParams"));
  return json::Value();
}

ReadResult<json::Value> definition(World& world, const json::Value& params) {
  protocol::PositionParams p = TRY(protocol::read_position_params(params, "GotoDefinitionParams"));
  if (!world.analysis(p.uri)) return json::Value();
  return json::Value::array();
}

ReadResult<json::Value> references(World& world, const json::Value& params) {
  protocol::ReferenceParams p = TRY(protocol::read_reference_params(params));
  if (!world.analysis(p.uri)) return json::Value();
  return json::Value::array();
}

ReadResult<json::Value> completion(World& world, const json::Value& params) {
  protocol::PositionParams p = TRY(protocol::read_position_params(params, "CompletionParams"));
  if (!world.analysis(p.uri)) return json::Value();
  return json::Value::array();
}

ReadResult<json::Value> folding_range(World& world, const json::Value& params) {
  protocol::DocumentParams p = TRY(protocol::read_document_params(params, "FoldingRangeParams"));
  AnalysisPtr analysis = world.analysis(p.uri);
  if (!analysis) return json::Value();
  return protocol::to_json_array(folding_ranges(analysis->parse.lex));
}

ReadResult<json::Value> document_symbol(World& world, const json::Value& params) {
  protocol::DocumentParams p = TRY(protocol::read_document_params(params, "DocumentSymbolParams"));
  AnalysisPtr analysis = world.analysis(p.uri);
  if (!analysis || !analysis->index) return json::Value();
  return protocol::to_json_array(document_symbols(*analysis->index, analysis->text, analysis->line_index));
}

ReadResult<json::Value> semantic_tokens(World& world, const json::Value& params) {
  protocol::DocumentParams p = TRY(protocol::read_document_params(params, "SemanticTokensParams"));
  if (!world.analysis(p.uri)) return json::Value();
  json::Object result;
  result.append("data", json::Value::array());
  return json::Value(std::move(result));
}

struct Route {
  std::string_view method;
  Handler handler;
};

constexpr Route kRoutes[] = {
    {"textDocument/hover", hover},
    {"textDocument/definition", definition},
    {"textDocument/references", references},
    {"textDocument/completion", completion},
    {"textDocument/foldingRange", folding_range},
    {"textDocument/documentSymbol", document_symbol},
    {"textDocument/semanticTokens/full", semantic_tokens},
};

}  // namespace

transport::Response handle_request(World& world, const transport::Request& request) {
  for (const Route& route : kRoutes) {
    if (route.method != request.method) continue;
    ReadResult<json::Value> result = route.handler(world, request.params);
    if (!result.ok())
      return transport::make_error(request.id, transport::error_code::kInvalidParams, std::move(result).error());
    return transport::make_result(request.id, std::move(result).value());
  }
  return transport::make_error(request.id, transport::error_code::kMethodNotFound,
                               "unhandled method `" + request.method + "`");
}

}  // namespace dravelin::lsp
