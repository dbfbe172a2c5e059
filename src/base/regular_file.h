// Reading the whole of a small file a user names (a source, a manifest, a profiles file) without the surprises
// of special files: only a regular file is read, its size is held to a limit before and while it is read, and a
// pipe, a device or a socket is refused without waiting on it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"

namespace dravelin {

// The file's bytes, unchecked as text. The error is the text a user sees after the caller's context: the
// operating system's description ("No such file or directory", "Is a directory"), "not a regular file (a named
// pipe)" and the like for a special file, "the path contains a NUL byte", or `too_large_text` for a file of more
// than `max_bytes` (also when it grows past them while it is read).
Result<std::string, std::string> read_regular_file_bytes(const std::filesystem::path& path, size_t max_bytes,
                                                         std::string_view too_large_text);

// A regular file opened for reading, for a caller that reads it a buffer at a time and holds its own limits: a
// blocking, close-on-exec descriptor that the caller closes. Every other kind of file is refused as above,
// before it is opened or read, so nothing is waited on.
Result<int, std::string> open_regular_file(const std::filesystem::path& path);

}  // namespace dravelin
