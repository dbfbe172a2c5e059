// Reading the linked program that a recording's start line carries. Private to the record library.
#pragma once

#include <string>

#include "base/result.h"
#include "ir/program.h"
#include "json/value.h"

namespace dravelin::record {

// The `ir` entry of a start line as a program, or the IR reader's message.
Result<ir::Ir, std::string> read_linked_program(const json::Value& value);

}  // namespace dravelin::record
