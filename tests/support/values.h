// Short makers of runtime values for test tables, declared once so that test files can be compiled together.
#pragma once

#include <string>
#include <utility>

#include "runtime/value.h"

namespace dravelin::test_values {

inline runtime::Value num(double n) { return runtime::Value::number(n); }
inline runtime::Value txt(std::string s) { return runtime::Value::text(std::move(s)); }
inline runtime::Value lst(runtime::List items) { return runtime::Value::list(std::move(items)); }
inline runtime::Value rec(runtime::Record entries) { return runtime::Value::record(std::move(entries)); }

}  // namespace dravelin::test_values
