#include "lsp/server/options.h"

#include <optional>

namespace dravelin::lsp {
namespace {

bool read_paths(const json::Value& value, Options& out) {
  const json::Array* items = value.if_array();
  if (items == nullptr) return false;
  for (const json::Value& item : *items) {
    if (!item.is_string()) return false;
    out.paths.push_back(item.as_string());
  }
  return true;
}

bool read_error_reference(const json::Value& value, Options& out) {
  if (value.is_null()) return true;
  if (!value.is_string()) return false;
  out.error_reference = value.as_string();
  return true;
}

std::optional<Options> read(const json::Value& value) {
  Options out;
  if (const json::Array* items = value.if_array()) {
    if (items->size() > 2) return std::nullopt;
    if (!items->empty() && !read_paths((*items)[0], out)) return std::nullopt;
    if (items->size() > 1 && !read_error_reference((*items)[1], out)) return std::nullopt;
    return out;
  }
  const json::Object* object = value.if_object();
  if (object == nullptr) return std::nullopt;
  if (object->count("paths") > 1 || object->count("errorReference") > 1) return std::nullopt;
  if (const json::Value* paths = object->find("paths"); paths != nullptr && !read_paths(*paths, out))
    return std::nullopt;
  if (const json::Value* reference = object->find("errorReference");
      reference != nullptr && !read_error_reference(*reference, out))
    return std::nullopt;
  return out;
}

}  // namespace

Options read_options(const json::Value& value) {
  if (value.is_null()) return Options{};
  return read(value).value_or(Options{});
}

}  // namespace dravelin::lsp
