#include "lsp/server/requests.h"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "lsp/core/navigate.h"
#include "lsp/core/outline.h"
#include "lsp/core/semantic.h"
#include "lsp/protocol/read.h"
#include "lsp/protocol/write.h"

namespace dravelin::lsp {
namespace {

using protocol::ReadResult;

// What a request reads and fills: the World, and completion's last patched analysis.
struct Session {
  World& world;
  PatchedAnalyses& patched;
};

// The result of a request, or the message of params that did not read.
using Handler = ReadResult<json::Value> (*)(Session& session, const json::Value& params);

// The analysis and byte offset a position request is about; nothing for a document that is not open.
struct At {
  AnalysisPtr analysis;
  size_t offset = 0;
};

std::optional<At> locate(World& world, const protocol::PositionParams& p) {
  AnalysisPtr analysis = world.analysis(p.uri);
  if (!analysis) return std::nullopt;
  const size_t offset = analysis->line_index.offset(analysis->text, p.position);
  return At{std::move(analysis), offset};
}

ReadResult<json::Value> hover(Session& s, const json::Value& params) {
  protocol::PositionParams p = TRY(protocol::read_position_params(params, "HoverParams"));
  std::optional<At> at = locate(s.world, p);
  if (!at) return json::Value();
  std::optional<Hover> result = lsp::hover(s.world, at->analysis, at->offset);
  if (!result) return json::Value();
  return protocol::to_json(*result);
}

ReadResult<json::Value> definition(Session& s, const json::Value& params) {
  protocol::PositionParams p = TRY(protocol::read_position_params(params, "GotoDefinitionParams"));
  std::optional<At> at = locate(s.world, p);
  if (!at) return json::Value();
  return protocol::to_json_array(goto_definition(s.world, at->analysis, at->offset));
}

ReadResult<json::Value> references(Session& s, const json::Value& params) {
  protocol::ReferenceParams p = TRY(protocol::read_reference_params(params));
  std::optional<At> at = locate(s.world, protocol::PositionParams{p.uri, p.position});
  if (!at) return json::Value();
  return protocol::to_json_array(find_references(s.world, at->analysis, at->offset, p.include_declaration));
}

ReadResult<json::Value> completion(Session& s, const json::Value& params) {
  protocol::PositionParams p = TRY(protocol::read_position_params(params, "CompletionParams"));
  std::optional<At> at = locate(s.world, p);
  if (!at) return json::Value();
  return protocol::to_json_array(complete(s.world, at->analysis, at->offset, s.patched));
}

ReadResult<json::Value> folding_range(Session& s, const json::Value& params) {
  protocol::DocumentParams p = TRY(protocol::read_document_params(params, "FoldingRangeParams"));
  AnalysisPtr analysis = s.world.analysis(p.uri);
  if (!analysis) return json::Value();
  return protocol::to_json_array(folding_ranges(analysis->parse.lex));
}

ReadResult<json::Value> document_symbol(Session& s, const json::Value& params) {
  protocol::DocumentParams p = TRY(protocol::read_document_params(params, "DocumentSymbolParams"));
  AnalysisPtr analysis = s.world.analysis(p.uri);
  if (!analysis || !analysis->index) return json::Value();
  return protocol::to_json_array(document_symbols(*analysis->index, analysis->text, analysis->line_index));
}

ReadResult<json::Value> semantic_tokens(Session& s, const json::Value& params) {
  protocol::DocumentParams p = TRY(protocol::read_document_params(params, "SemanticTokensParams"));
  AnalysisPtr analysis = s.world.analysis(p.uri);
  if (!analysis) return json::Value();
  const SymbolIndex* index = analysis->index ? &*analysis->index : nullptr;
  std::vector<ClassifiedToken> tokens = classify_document(analysis->parse.lex, index);
  return protocol::semantic_tokens_result(encode_semantic_tokens(analysis->text, analysis->line_index, tokens));
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

transport::Response handle_request(World& world, PatchedAnalyses& patched, const transport::Request& request) {
  Session session{world, patched};
  for (const Route& route : kRoutes) {
    if (route.method != request.method) continue;
    ReadResult<json::Value> result = route.handler(session, request.params);
    if (!result.ok())
      return transport::make_error(request.id, transport::error_code::kInvalidParams, std::move(result).error());
    return transport::make_result(request.id, std::move(result).value());
  }
  return transport::make_error(request.id, transport::error_code::kMethodNotFound,
                               "unhandled method `" + request.method + "`");
}

}  // namespace dravelin::lsp
