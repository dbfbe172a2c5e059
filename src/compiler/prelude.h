// The standard prelude `std`, Dravelin source held in the program.
#pragma once

#include <string_view>

namespace dravelin::compiler {

std::string_view prelude_text();

}  // namespace dravelin::compiler
