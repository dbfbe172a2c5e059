// The server's initialization options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace dravelin::lsp {

// Where the published error reference lives; a diagnostic links to this, "#" and its code.
inline constexpr std::string_view kDefaultErrorReference = "https://dravelin.dev/docs/error-reference";

struct Options {
  std::vector<std::string> paths;  // module search directories
  std::string error_reference = std::string(kDefaultErrorReference);
  friend bool operator==(const Options&, const Options&) = default;
};

// `initializationOptions`: an object with `paths` and `errorReference` (other members ignored), or an array of
// the two in that order. Anything that does not read (a member given twice, a value of the wrong type) gives
// the defaults for both, silently.
Options read_options(const json::Value& value);

}  // namespace dravelin::lsp
