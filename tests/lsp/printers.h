// Readable failure messages for the protocol records the language server's tests compare.
#pragma once

#include <ostream>

#include "lsp/protocol/types.h"

namespace dravelin::lsp {

inline void PrintTo(const Position& p, std::ostream* os) { *os << p.line << ":" << p.character; }

inline void PrintTo(const Range& r, std::ostream* os) {
  PrintTo(r.start, os);
  *os << "-";
  PrintTo(r.end, os);
}

inline void PrintTo(const Location& l, std::ostream* os) {
  *os << l.uri << " ";
  PrintTo(l.range, os);
}

}  // namespace dravelin::lsp
