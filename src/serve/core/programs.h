// The loaded programs: each compiled once and kept, immutable, under an id "program_<n>", n counting the loads
// that compiled from 1.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "ir/program.h"
#include "serve/core/failure.h"

namespace dravelin::serve::core {

struct LoadRequest {
  std::optional<std::string> source;  // exactly one of `source` and `path`
  std::optional<std::string> path;
  std::vector<std::string> paths;     // module search roots before those of DRAVELIN_PATH
};

class ProgramStore {
 public:
  // Compiles the program and keeps its IR (the compiler's warnings are dropped); returns the new id and the
  // stored IR. A failed load leaves the store and the numbering as they were.
  Result<std::pair<std::string, const ir::Ir*>, Failure> load(const LoadRequest& request);

  // The stored IR of an id; an unknown id fails with "unknown program_id `<id>`".
  Result<const ir::Ir*, Failure> find(const std::string& id) const;

 private:
  std::map<std::string, ir::Ir, std::less<>> programs_;
  uint64_t next_number_ = 1;
};

}  // namespace dravelin::serve::core
