// The protocol's records as plain data: positions, ranges, locations, diagnostics, outline entries, folding
// ranges and document changes. The core computes them; the protocol readers and writers turn them into JSON
// and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravelin::lsp {

// A zero-based line and a character count in the code units of the negotiated position encoding.
struct Position {
  uint32_t line = 0;
  uint32_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
  friend auto operator<=>(const Position&, const Position&) = default;
};

struct Range {
  Position start;
  Position end;
  friend bool operator==(const Range&, const Range&) = default;
};

struct Location {
  std::string uri;
  Range range;
  friend bool operator==(const Location&, const Location&) = default;
};

struct RelatedInformation {
  Location location;
  std::string message;
  friend bool operator==(const RelatedInformation&, const RelatedInformation&) = default;
};

enum class DiagnosticSeverity : uint8_t { Error = 1, Warning = 2 };

// One finding as the editor shows it.
struct LspDiagnostic {
  Range range;
  DiagnosticSeverity severity = DiagnosticSeverity::Error;
  std::string code;
  std::optional<std::string> code_href;  // codeDescription.href
  std::string message;
  std::vector<RelatedInformation> related;  // relatedInformation, left out when empty
  std::string section;                      // data.specSection
  friend bool operator==(const LspDiagnostic&, const LspDiagnostic&) = default;
};

// The protocol's SymbolKind numbers used by the outline.
enum class SymbolKind : uint8_t {
  Module = 2,
  Class = 5,
  Method = 6,
  Property = 7,
  Field = 8,
  Enum = 10,
  Interface = 11,
  Function = 12,
  Variable = 13,
  EnumMember = 22,
  Event = 24,
};

struct DocumentSymbol {
  std::string name;
  std::optional<std::string> detail;
  SymbolKind kind = SymbolKind::Variable;
  Range range;
  Range selection_range;
  std::vector<DocumentSymbol> children;  // left out when empty
  friend bool operator==(const DocumentSymbol&, const DocumentSymbol&) = default;
};

struct FoldingRange {
  uint32_t start_line = 0;
  uint32_t end_line = 0;
  std::optional<std::string> kind;  // "comment", "imports", or none
  friend bool operator==(const FoldingRange&, const FoldingRange&) = default;
};

// One entry of a didChange: a replacement of a range, or of the whole text when there is no range.
struct ContentChange {
  std::optional<Range> range;
  std::string text;
  friend bool operator==(const ContentChange&, const ContentChange&) = default;
};

}  // namespace dravelin::lsp
