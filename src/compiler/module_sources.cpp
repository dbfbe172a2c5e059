#include "compiler/module_sources.h"

#include <cstdlib>
#include <system_error>
#include <utility>

#include "base/regular_file.h"
#include "syntax/utf8.h"

namespace dravelin::compiler {

namespace fs = std::filesystem;

namespace {

// A path's components with empty ones (a trailing separator) and inner "." dropped, so that "lib/", "lib/."
// and "lib" all end in the component "lib". Only a leading "." is kept: "./x" names x in the current directory.
std::vector<fs::path> components(const fs::path& path) {
  std::vector<fs::path> out;
  for (const fs::path& part : path) {
    if (part.empty()) continue;
    if (part == "." && !out.empty()) continue;
    out.push_back(part);
  }
  return out;
}

bool is_root_component(const fs::path& part) { return part.has_root_directory() || part.has_root_name(); }

// The path without its last component; nothing for the empty path and for a root. The parent of a bare name
// is the empty path.
std::optional<fs::path> parent_of(const fs::path& path) {
  std::vector<fs::path> parts = components(path);
  if (parts.empty() || is_root_component(parts.back())) return std::nullopt;
  fs::path parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent /= parts[i];
  return parent;
}

// The last component when it names an entry: nothing when the path ends in a root, "." or "..".
std::optional<fs::path> final_component(const fs::path& path) {
  std::vector<fs::path> parts = components(path);
  if (parts.empty()) return std::nullopt;
  const fs::path& last = parts.back();
  if (is_root_component(last) || last == "." || last == "..") return std::nullopt;
  return last;
}

std::optional<fs::path> try_canonical(const fs::path& path) {
  // The empty path names nothing; std::filesystem would otherwise read it as the current directory.
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  fs::path result = fs::canonical(path, ec);
  if (ec) return std::nullopt;
  return result;
}

}  // namespace

Result<std::string, ReadError> read_regular_file(const fs::path& path, std::string_view too_large_text) {
  auto bytes = read_regular_file_bytes(path, kMaxSourceBytes, too_large_text);
  if (!bytes.ok()) return err(ReadError{std::move(bytes).error()});
  if (!is_valid_utf8(*bytes)) return err(ReadError{"stream did not contain valid UTF-8"});
  return std::move(bytes).value();
}

std::string display_path(const fs::path& path) {
  const std::string& bytes = path.native();
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    syntax::Utf8Char c = syntax::decode_utf8(bytes, i);
    if (c.code != syntax::kReplacementChar || c.length != 1) {
      out.append(bytes, i, c.length);
      i += c.length;
      continue;
    }
    syntax::append_utf8(out, syntax::kReplacementChar);
    i += syntax::malformed_length(bytes, i);
  }
  return out;
}

namespace {

// canonical_path when the file or its directory exists.
std::optional<fs::path> canonical_on_disk(const fs::path& path) {
  // A missing file, the usual case for an unsaved module, is told by one look instead of a walk that resolves
  // every directory on the way before failing.
  std::error_code ec;
  const bool missing = !path.empty() && !fs::exists(path, ec) && !ec;
  if (!missing)
    if (std::optional<fs::path> whole = try_canonical(path)) return whole;
  std::optional<fs::path> parent = parent_of(path);
  std::optional<fs::path> name = final_component(path);
  if (parent && !parent->empty() && name) {
    if (std::optional<fs::path> base = try_canonical(*parent)) return *base / *name;
  }
  return std::nullopt;
}

// Whether some key of the overlay lies below the directory. Keys below it sort right after it.
bool holds_directory(const std::map<fs::path, std::string>& overlay, const fs::path& directory) {
  auto next = overlay.upper_bound(directory);
  if (next == overlay.end()) return false;
  auto inside = next->first.begin();
  for (const fs::path& part : directory) {
    if (inside == next->first.end() || *inside != part) return false;
    ++inside;
  }
  return inside != next->first.end();
}

}  // namespace

fs::path canonical_path(const fs::path& path) { return canonical_on_disk(path).value_or(path); }

fs::path source_key(const fs::path& path, const std::map<fs::path, std::string>& overlay) {
  if (std::optional<fs::path> found = canonical_on_disk(path)) return *found;
  const std::vector<fs::path> parts = components(path);
  if (parts.empty()) return path;
  auto joined = [&](size_t from, size_t to, fs::path out) {
    for (size_t i = from; i < to; ++i) out /= parts[i];
    return out;
  };
  // The deepest directory on disk, tried from the longest prefix: most missing paths lack only a name or two.
  std::optional<fs::path> base;
  size_t kept = parts.size();
  while (!base && kept > 0) {
    --kept;
    if (kept > 0) base = try_canonical(joined(0, kept, fs::path()));
  }
  if (!base) {
    if (!path.is_relative()) return path;
    base = try_canonical(".");
    if (!base) return path;
  }
  fs::path key = *base;
  size_t missing = 0;  // names after `base`
  for (size_t i = kept; i < parts.size(); ++i) {
    const fs::path& part = parts[i];
    if (part == ".") continue;
    if (part != "..") {
      key /= part;
      ++missing;
      continue;
    }
    // Right after `base`, ".." follows a file (the directory's own ".." would have been on disk).
    if (missing == 0 || !holds_directory(overlay, key)) return path;
    key = key.parent_path();
    // Back on disk: what follows may name links and ".." of real directories again.
    if (--missing == 0) return source_key(joined(i + 1, parts.size(), key), overlay);
  }
  return key;
}

ModuleSources ModuleSources::from_env() {
  ModuleSources sources;
  const char* value = std::getenv("DRAVELIN_PATH");
  if (value == nullptr) return sources;
  std::string_view text(value);
  if (!is_valid_utf8(text)) return sources;
  while (!text.empty()) {
    size_t colon = text.find(':');
    std::string_view entry = text.substr(0, colon);
    if (!entry.empty()) sources.roots.emplace_back(std::string(entry));
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  return sources;
}

bool ModuleSources::exists(const fs::path& path) const {
  std::error_code ec;
  if (!path.empty() && fs::exists(path, ec) && !ec) return true;
  return overlay.count(key(path)) != 0;
}

fs::path ModuleSources::key(const fs::path& path) const { return source_key(path, overlay); }

Result<fs::path, syntax::DiagnosticCode> ModuleSources::resolve(const fs::path& importer,
                                                                std::string_view written) const {
  const bool relative = written.starts_with("./") || written.starts_with("../");
  if (relative) {
    fs::path candidate = parent_of(importer).value_or(fs::path(".")) / fs::path(std::string(written));
    if (exists(candidate)) return candidate;
    return err(syntax::DiagnosticCode::UseNotFound);
  }
  for (const fs::path& root : roots) {
    fs::path candidate = root / fs::path(std::string(written));
    if (exists(candidate)) return candidate;
  }
  return err(syntax::DiagnosticCode::UseNotFound);
}

Result<std::string, ReadError> ModuleSources::read_text(const fs::path& path) const {
  if (overlay.empty()) return read_regular_file(path);
  return read_text(path, key(path));
}

Result<std::string, ReadError> ModuleSources::read_text(const fs::path& path, const fs::path& path_key) const {
  auto it = overlay.find(path_key);
  if (it != overlay.end()) return it->second;
  return read_regular_file(path);
}

}  // namespace dravelin::compiler
