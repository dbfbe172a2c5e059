#include "lsp/protocol/write.h"

#include <initializer_list>
#include <utility>

#include "lsp/core/semantic_legend.h"

namespace dravelin::lsp::protocol {
namespace {

// An object with its members in the order given.
json::Value object(std::initializer_list<json::Member> members) {
  json::Object out;
  out.reserve(members.size());
  for (const json::Member& member : members) out.append(member.key, member.value);
  return json::Value(std::move(out));
}

void add(json::Value& object, std::string key, json::Value value) {
  object.as_object().append(std::move(key), std::move(value));
}

template <size_t N>
json::Value string_array(const std::string_view (&names)[N]) {
  json::Array out;
  for (std::string_view name : names) out.emplace_back(name);
  return json::Value(std::move(out));
}

}  // namespace

json::Value to_json(const Position& position) {
  return object({{"line", position.line}, {"character", position.character}});
}

// Ranges and locations come by the hundred thousand (references, diagnostics): their nested members are moved
// in, where the initializer list of `object` would copy them.
json::Value to_json(const Range& range) {
  json::Value out = object({});
  add(out, "start", to_json(range.start));
  add(out, "end", to_json(range.end));
  return out;
}

json::Value to_json(const Location& location) {
  json::Value out = object({{"uri", location.uri}});
  add(out, "range", to_json(location.range));
  return out;
}

json::Value to_json(const LspDiagnostic& diagnostic) {
  json::Value out = object({});
  add(out, "range", to_json(diagnostic.range));
  add(out, "severity", static_cast<uint32_t>(diagnostic.severity));
  add(out, "code", diagnostic.code);
  if (diagnostic.code_href) add(out, "codeDescription", object({{"href", *diagnostic.code_href}}));
  add(out, "source", "dravelin");
  add(out, "message", diagnostic.message);
  if (!diagnostic.related.empty()) {
    json::Array related;
    for (const RelatedInformation& r : diagnostic.related)
      related.push_back(object({{"location", to_json(r.location)}, {"message", r.message}}));
    add(out, "relatedInformation", json::Value(std::move(related)));
  }
  add(out, "data", object({{"specSection", diagnostic.section}}));
  return out;
}

json::Value to_json(const DocumentSymbol& symbol) {
  json::Value out = object({{"name", symbol.name}});
  if (symbol.detail) add(out, "detail", *symbol.detail);
  add(out, "kind", static_cast<uint32_t>(symbol.kind));
  add(out, "range", to_json(symbol.range));
  add(out, "selectionRange", to_json(symbol.selection_range));
  if (!symbol.children.empty()) add(out, "children", to_json_array(symbol.children));
  return out;
}

json::Value to_json(const FoldingRange& range) {
  json::Value out = object({{"startLine", range.start_line}, {"endLine", range.end_line}});
  if (range.kind) add(out, "kind", *range.kind);
  return out;
}

json::Value to_json(const Hover& hover) {
  return object({{"contents", object({{"kind", "markdown"}, {"value", hover.markdown}})},
                 {"range", to_json(hover.range)}});
}

json::Value to_json(const CompletionItem& item) {
  json::Value out = object({{"label", item.label}});
  if (item.label_description) add(out, "labelDetails", object({{"description", *item.label_description}}));
  add(out, "kind", static_cast<uint32_t>(item.kind));
  if (item.detail) add(out, "detail", *item.detail);
  if (item.documentation) add(out, "documentation", object({{"kind", "markdown"}, {"value", *item.documentation}}));
  if (item.sort_text) add(out, "sortText", *item.sort_text);
  return out;
}

json::Value semantic_tokens_result(const std::vector<uint32_t>& data) {
  json::Array numbers;
  numbers.reserve(data.size());
  for (uint32_t n : data) numbers.emplace_back(n);
  // Appended rather than listed: a member list is copied, and this array is large.
  json::Object out;
  out.append("data", json::Value(std::move(numbers)));
  return json::Value(std::move(out));
}

json::Value publish_diagnostics_params(const std::string& uri, const std::vector<LspDiagnostic>& diagnostics,
                                       std::optional<int32_t> version) {
  json::Value out = object({{"uri", uri}});
  add(out, "diagnostics", to_json_array(diagnostics));
  if (version) add(out, "version", *version);
  return out;
}

json::Value server_capabilities(PositionEncoding encoding) {
  return object({
      {"positionEncoding", encoding_name(encoding)},
      {"textDocumentSync", object({{"openClose", true}, {"change", 2}, {"save", object({{"includeText", false}})}})},
      {"hoverProvider", true},
      {"completionProvider", object({{"triggerCharacters", json::Value(json::Array{json::Value(".")})}})},
      {"definitionProvider", true},
      {"referencesProvider", true},
      {"documentSymbolProvider", true},
      {"foldingRangeProvider", true},
      {"semanticTokensProvider",
       object({{"legend", object({{"tokenTypes", string_array(kSemanticTokenTypeNames)},
                                  {"tokenModifiers", string_array(kSemanticTokenModifierNames)}})},
               {"full", true}})},
  });
}

// The server is the `dravelin` command and reports the command's version.
json::Value initialize_result(PositionEncoding encoding) {
  return object({{"capabilities", server_capabilities(encoding)},
                 {"serverInfo", object({{"name", "dravelin"}, {"version", "0.1.2"}})}});
}

}  // namespace dravelin::lsp::protocol
