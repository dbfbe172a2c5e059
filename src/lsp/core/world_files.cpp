// The files of the World: reading them from disk into the file cache, and walking the workspace.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "lsp/core/uri.h"
#include "lsp/core/world.h"
#include "syntax/utf8.h"

namespace dravelin::lsp {
namespace {

namespace fs = std::filesystem;

std::optional<int64_t> modified_ns(const struct stat& info) {
  return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// A regular file's text when it is UTF-8 and not larger than the limit. Anything else (a directory, a pipe
// that would block, a device) is not read at all.
std::optional<std::string> read_source_file(const fs::path& path, uint64_t max_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> text;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) <= max_bytes) {
    std::string content;
    char buffer[16384];
    bool failed = false;
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        failed = true;
        break;
      }
      if (n == 0) break;
      content.append(buffer, static_cast<size_t>(n));
      // The file grew while it was read.
      if (content.size() > max_bytes) {
        failed = true;
        break;
      }
    }
    if (!failed && syntax::is_valid_utf8(content)) text = std::move(content);
  }
  ::close(fd);
  return text;
}

bool skipped_directory(const std::string& name) {
  return name.starts_with('.') || name == "node_modules" || name == "target";
}

}  // namespace

void scan_source_files(const fs::path& directory, std::vector<fs::path>& files, WalkBudget& budget) {
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  if (ec) return;
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (budget.entries_left == 0) {
      budget.exhausted = true;
      break;
    }
    --budget.entries_left;
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
    return a.path().filename().native() < b.path().filename().native();
  });
  for (const fs::directory_entry& entry : entries) {
    if (files.size() >= budget.max_files || budget.exhausted) return;
    const fs::file_status status = entry.symlink_status(ec);
    if (ec) continue;
    if (fs::is_directory(status)) {
      if (!skipped_directory(entry.path().filename().native())) scan_source_files(entry.path(), files, budget);
      continue;
    }
    if (entry.path().extension() == ".zem") files.push_back(entry.path());
  }
}

AnalysisPtr World::analysis_for_path(const fs::path& path) {
  const fs::path key = module_sources_.key(path);
  if (auto open = open_files_.find(key); open != open_files_.end()) return analysis(*open->second.begin());

  struct stat info {};
  if (::stat(key.c_str(), &info) != 0) {
    // The file is gone (or cannot be looked at): whatever was cached for it can never be returned again.
    file_cache_.erase(key);
    return nullptr;
  }
  const std::optional<int64_t> modified = modified_ns(info);
  auto cached = file_cache_.find(key);
  if (cached != file_cache_.end() && cached->second.modified_ns == modified) return cached->second.analysis;

  std::optional<std::string> text = read_source_file(key, limits_.max_file_bytes);
  if (!text) {
    file_cache_.erase(key);
    return nullptr;
  }
  AnalysisPtr result = analyze_document(path_to_uri(key), key, std::move(*text), encoding_);
  file_cache_.insert_or_assign(key, CachedFile{modified, result});
  return result;
}

const std::vector<fs::path>& World::workspace_files() {
  if (!workspace_files_) {
    std::vector<fs::path> files;
    WalkBudget budget{limits_.max_workspace_files, limits_.max_walk_entries, false};
    for (const fs::path& root : workspace_roots_) scan_source_files(root, files, budget);
    workspace_files_ = std::move(files);
  }
  return *workspace_files_;
}

std::vector<AnalysisPtr> World::all_documents() {
  std::vector<AnalysisPtr> out;
  std::set<std::string> keys;
  for (const std::string& uri : open_uris()) {
    AnalysisPtr a = analysis(uri);
    keys.insert(document_key(*a));
    out.push_back(std::move(a));
  }
  for (const fs::path& file : workspace_files()) {
    if (keys.count(compiler::display_path(compiler::source_key(file, {}))) != 0) continue;
    if (AnalysisPtr a = analysis_for_path(file)) {
      keys.insert(document_key(*a));
      out.push_back(std::move(a));
    }
  }
  return out;
}

void World::files_changed() {
  file_cache_.clear();
  workspace_files_.reset();
}

}  // namespace dravelin::lsp
