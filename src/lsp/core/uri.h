// Document URIs and file paths.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace dravelin::lsp {

// The URI under which the prelude is shown.
inline constexpr std::string_view kPreludeUri = "dravelin-prelude:///std.zem";

// Whether the text is an absolute URI: a scheme (a letter, then letters, digits, "+", "-" or "."), a colon,
// and no white space or control character anywhere.
bool is_uri(std::string_view text);

// The local file a `file:` URI names: an empty authority or "localhost", the path up to "?" or "#",
// percent-decoded. Nothing for other URIs, for a malformed escape, for a path that is not UTF-8, and for a
// path holding a NUL byte (which no file name can hold).
std::optional<std::filesystem::path> uri_to_path(std::string_view uri);

// "file://" and the path with every byte outside A-Z a-z 0-9 - . / : _ ~ percent-encoded.
std::string path_to_uri(const std::filesystem::path& path);

}  // namespace dravelin::lsp
