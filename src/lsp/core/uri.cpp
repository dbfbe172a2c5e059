#include "lsp/core/uri.h"

#include "compiler/module_sources.h"
#include "syntax/utf8.h"

namespace dravelin::lsp {
namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_unreserved_path_byte(unsigned char c) {
  return is_alpha(static_cast<char>(c)) || is_digit(static_cast<char>(c)) || c == '-' || c == '.' || c == '/' ||
         c == ':' || c == '_' || c == '~';
}

}  // namespace

bool is_uri(std::string_view text) {
  if (text.empty() || !is_alpha(text[0])) return false;
  size_t i = 1;
  while (i < text.size() && (is_alpha(text[i]) || is_digit(text[i]) || text[i] == '+' || text[i] == '-' ||
                             text[i] == '.'))
    ++i;
  if (i >= text.size() || text[i] != ':') return false;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
  }
  return true;
}

std::optional<std::filesystem::path> uri_to_path(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (!uri.starts_with(kScheme)) return std::nullopt;
  std::string_view rest = uri.substr(kScheme.size());
  if (!rest.starts_with('/')) {
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos || rest.substr(0, slash) != "localhost") return std::nullopt;
    rest.remove_prefix(slash);
  }
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string decoded;
  decoded.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      decoded += rest[i];
      continue;
    }
    const int hi = i + 1 < rest.size() ? hex_value(rest[i + 1]) : -1;
    const int lo = i + 2 < rest.size() ? hex_value(rest[i + 2]) : -1;
    if (hi < 0 || lo < 0) return std::nullopt;
    decoded += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (decoded.find('\0') != std::string::npos) return std::nullopt;
  if (!syntax::is_valid_utf8(decoded)) return std::nullopt;
  return std::filesystem::path(std::move(decoded));
}

std::string path_to_uri(const std::filesystem::path& path) {
  std::string text = compiler::display_path(path);
  for (char& c : text)
    if (c == '\\') c = '/';
  std::string uri = "file://";
  if (!text.starts_with('/')) uri += '/';
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (is_unreserved_path_byte(b)) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[b >> 4];
      uri += kHex[b & 0xF];
    }
  }
  if (!is_uri(uri)) return "file:///";
  return uri;
}

}  // namespace dravelin::lsp
