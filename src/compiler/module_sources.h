// Where a `use` path points and how a module's text is obtained: the search roots and the overlay of unsaved
// texts that the language server keeps.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "syntax/diagnostic.h"
#include "syntax/utf8.h"

namespace dravelin::compiler {

// A failed read: the text the user sees after "cannot read module `...`: ".
struct ReadError {
  std::string message;
  friend bool operator==(const ReadError&, const ReadError&) = default;
};

// The most a source file may hold; anything larger is refused before it is read.
inline constexpr size_t kMaxSourceBytes = size_t{64} << 20;
// The read error for a source larger than that.
inline constexpr std::string_view kSourceTooLargeText = "larger than the 64 MiB limit for source files";

struct ModuleSources {
  // Tried in order for every `use` path that is not relative to its importer.
  std::vector<std::filesystem::path> roots;
  // Full texts keyed by `key` of their paths; std::filesystem::path orders by component, so two spellings of
  // one key are one entry.
  std::map<std::filesystem::path, std::string> overlay;

  // The roots of DRAVELIN_PATH (":"-separated, empty entries dropped); none when it is unset or not valid
  // UTF-8. The overlay is empty.
  static ModuleSources from_env();

  // Whether the file system has an entry there (symbolic links followed; errors count as none), or the
  // overlay holds its key.
  bool exists(const std::filesystem::path& path) const;

  // The path's identity as the overlay and the linker compare files: source_key over this overlay.
  std::filesystem::path key(const std::filesystem::path& path) const;

  // The file a written `use` path names, seen from the importing file: "./" and "../" paths against the
  // importer's directory only, every other path under each root in turn. The result is the candidate as built,
  // not canonicalized. The only failure is `use_not_found`; the caller words the message.
  Result<std::filesystem::path, syntax::DiagnosticCode> resolve(const std::filesystem::path& importer,
                                                                std::string_view written) const;

  // The overlay's text for the path's key, else the file's contents, which must be UTF-8. Only a
  // regular file of at most kMaxSourceBytes is read; a pipe, a device or a socket is refused without
  // waiting on it.
  Result<std::string, ReadError> read_text(const std::filesystem::path& path) const;
  // The same for a path whose `key` is already known.
  Result<std::string, ReadError> read_text(const std::filesystem::path& path,
                                           const std::filesystem::path& path_key) const;
};

// A file's whole text, which must be UTF-8, as module sources are read: only a regular file of at most
// kMaxSourceBytes is read (a larger one is refused with `too_large_text`), and a pipe, a device or a socket is
// refused without waiting on it. Other readers of small text files share it for the same guarantees.
Result<std::string, ReadError> read_regular_file(const std::filesystem::path& path,
                                                 std::string_view too_large_text = kSourceTooLargeText);

// Absolute with every link, "." and ".." resolved when the path exists; else the canonical parent joined with
// the last component when only the parent exists; else the path unchanged. Never fails.
std::filesystem::path canonical_path(const std::filesystem::path& path);

// A file's identity: canonical_path when the file or its directory exists. Otherwise the deepest directory
// that exists, made canonical (the current directory for a relative path), then the rest of the path with "."
// dropped and each ".." taking back the name before it. As the file system would, a ".." goes back only over
// a directory: one of `overlay` (a proper start of one of its keys), since the names after the deepest
// directory are not on disk. A path with a ".." that cannot go back is returned as it is, and no key made
// here equals it.
std::filesystem::path source_key(const std::filesystem::path& path,
                                 const std::map<std::filesystem::path, std::string>& overlay);

// The path as text for messages and file names, malformed UTF-8 replaced by U+FFFD.
std::string display_path(const std::filesystem::path& path);

using syntax::is_valid_utf8;

}  // namespace dravelin::compiler
