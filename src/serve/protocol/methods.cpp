#include "serve/protocol/methods.h"

namespace dravelin::serve::protocol {

std::optional<Method> method_from_name(std::string_view name) {
  for (size_t i = 0; i < kMethodCount; ++i) {
    if (kMethodNames[i] == name) return static_cast<Method>(i);
  }
  return std::nullopt;
}

json::Value method_names_to_json_value() {
  json::Array names;
  for (std::string_view name : kMethodNames) names.emplace_back(name);
  return json::Value(std::move(names));
}

}  // namespace dravelin::serve::protocol
