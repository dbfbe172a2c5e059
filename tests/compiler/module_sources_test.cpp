#include "compiler/module_sources.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace dravelin::compiler {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

const fs::path kRoots = fs::path(DRAVELIN_TESTDATA) / "link" / "roots";

// Sets DRAVELIN_PATH (or unsets it) for one scope.
class ScopedSearchPath {
 public:
  explicit ScopedSearchPath(const std::optional<std::string>& value) {
    if (const char* old = std::getenv("DRAVELIN_PATH")) saved_ = old;
    if (value) {
      setenv("DRAVELIN_PATH", value->c_str(), 1);
    } else {
      unsetenv("DRAVELIN_PATH");
    }
  }
  ~ScopedSearchPath() {
    if (saved_) {
      setenv("DRAVELIN_PATH", saved_->c_str(), 1);
    } else {
      unsetenv("DRAVELIN_PATH");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(ModuleSourcesFromEnv, SplitsOnColonsAndIgnoresEmptyOrMalformedValues) {
  struct Case {
    std::optional<std::string> value;
    std::vector<fs::path> roots;
  };
  const Case cases[] = {
      {"a::b:", {"a", "b"}},
      {"/x/lib:rel", {"/x/lib", "rel"}},
      {"", {}},
      {":", {}},
      {std::nullopt, {}},
      {std::string("good:\xff\xfe"), {}},
  };
  for (const Case& c : cases) {
    ScopedSearchPath scope(c.value);
    ModuleSources sources = ModuleSources::from_env();
    EXPECT_EQ(sources.roots, c.roots) << c.value.value_or("<unset>");
    EXPECT_TRUE(sources.overlay.empty());
  }
}

TEST(ModuleSourcesResolve, RelativePathsFollowTheImporterAndIgnoreTheRoots) {
  TempDir dir;
  dir.write("lib/x.zem", "program x\n");
  dir.write("x.zem", "program x\n");
  dir.write("root/lib/x.zem", "program x\n");
  ModuleSources sources;
  sources.roots = {dir.path() / "root"};

  struct Case {
    fs::path importer;
    std::string written;
    std::optional<fs::path> expected;
  };
  const Case cases[] = {
      {dir.path() / "lib/main.zem", "./x.zem", dir.path() / "lib/./x.zem"},
      {dir.path() / "lib/main.zem", "../x.zem", dir.path() / "lib/../x.zem"},
      {dir.path() / "main.zem", "./lib/x.zem", dir.path() / "./lib/x.zem"},
      // Present under a root but missing beside the importer: a relative path never falls back to the roots.
      {dir.path() / "other/main.zem", "./lib/x.zem", std::nullopt},
      // Only "./" and "../" make a path relative; everything else is searched under the roots.
      {dir.path() / "main.zem", "lib/x.zem", dir.path() / "root/lib/x.zem"},
      {dir.path() / "main.zem", ".", dir.path() / "root/."},
      {dir.path() / "main.zem", "..", dir.path() / "root/.."},
      {dir.path() / "main.zem", "..x.zem", std::nullopt},
      {dir.path() / "main.zem", "", dir.path() / "root/"},
  };
  for (const Case& c : cases) {
    auto resolved = sources.resolve(c.importer, c.written);
    if (c.expected) {
      ASSERT_TRUE(resolved.ok()) << c.written;
      EXPECT_EQ(resolved->native(), c.expected->native()) << c.written;
    } else {
      ASSERT_FALSE(resolved.ok()) << c.written;
      EXPECT_EQ(resolved.error(), syntax::DiagnosticCode::UseNotFound);
    }
  }
}

TEST(ModuleSourcesResolve, ImporterWithoutDirectoryResolvesAgainstTheCurrentDirectory) {
  // Overlay keys are canonical, so this needs no file in the current directory.
  const fs::path here = fs::current_path();
  ModuleSources sources;
  sources.overlay[here / "dravelin-overlay-only.zem"] = "program overlay_only\n";
  for (const char* importer : {"main.zem", "./<source>", "", "/"}) {
    auto resolved = sources.resolve(importer, "./dravelin-overlay-only.zem");
    ASSERT_TRUE(resolved.ok()) << importer;
    EXPECT_EQ(canonical_path(*resolved), here / "dravelin-overlay-only.zem") << importer;
  }
  EXPECT_EQ(sources.resolve("main.zem", "./dravelin-overlay-only.zem")->native(), "./dravelin-overlay-only.zem");
}

TEST(ModuleSourcesResolve, RootsAreTriedInOrderAndAbsolutePathsNeedARoot) {
  ModuleSources sources;
  sources.roots = {kRoots / "missing", kRoots / "first", kRoots / "second"};
  EXPECT_EQ(*sources.resolve("main.zem", "shared.zem"), kRoots / "first" / "shared.zem");
  EXPECT_EQ(*sources.resolve("main.zem", "only_second.zem"), kRoots / "second" / "only_second.zem");
  EXPECT_FALSE(sources.resolve("main.zem", "nowhere.zem").ok());

  const fs::path absolute = kRoots / "second" / "shared.zem";
  EXPECT_EQ(*sources.resolve("main.zem", absolute.string()), absolute);
  ModuleSources no_roots;
  EXPECT_FALSE(no_roots.resolve("main.zem", absolute.string()).ok());
  EXPECT_FALSE(no_roots.resolve("main.zem", "shared.zem").ok());
}

TEST(ModuleSourcesOverlay, UnsavedTextsExistAndWinOverTheDisk) {
  TempDir dir;
  fs::path on_disk = dir.write("both.zem", "program from_disk\n");
  ModuleSources sources;
  sources.overlay[canonical_path(on_disk)] = "program from_overlay\n";
  sources.overlay[canonical_path(dir.path()) / "unsaved.zem"] = "program unsaved\n";

  EXPECT_EQ(*sources.read_text(on_disk), "program from_overlay\n");
  // Any spelling that canonicalizes to a key finds it.
  const fs::path unsaved = dir.path() / "sub/../unsaved.zem";
  fs::create_directories(dir.path() / "sub");
  EXPECT_TRUE(sources.exists(unsaved));
  EXPECT_EQ(*sources.read_text(unsaved), "program unsaved\n");
  EXPECT_EQ(*sources.resolve(dir.path() / "main.zem", "./unsaved.zem"), dir.path() / "./unsaved.zem");
  EXPECT_FALSE(sources.exists(dir.path() / "absent.zem"));
}

TEST(ModuleSourcesReadText, FailuresSayWhy) {
  TempDir dir;
  dir.write("latin1.zem", "program caf\xe9\n");
  dir.write("lib.zem", "program lib\n");
  fs::create_directories(dir.path() / "folder");
  // A pipe nobody writes to: reading it would wait for ever.
  ASSERT_EQ(mkfifo((dir.path() / "pipe.zem").c_str(), 0600), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (dir.path() / "socket.zem").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  // Larger than the limit by one byte, without taking the disk space.
  fs::resize_file(dir.write("huge.zem", ""), kMaxSourceBytes + 1);
  ModuleSources sources;

  // A directory exists as far as resolution goes; reading it is what fails.
  EXPECT_TRUE(sources.exists(dir.path() / "folder"));
  struct Case {
    const char* name;
    fs::path path;
    std::string message;
  };
  const Case cases[] = {
      {"not UTF-8", dir.path() / "latin1.zem", "stream did not contain valid UTF-8"},
      {"missing", dir.path() / "absent.zem", "No such file or directory"},
      {"directory", dir.path() / "folder", "Is a directory"},
      {"named pipe", dir.path() / "pipe.zem", "not a regular file (a named pipe)"},
      {"endless device", "/dev/zero", "not a regular file (a character device)"},
      {"socket", socket_path, "not a regular file (a socket)"},
      {"larger than the limit", dir.path() / "huge.zem", "larger than the 64 MiB limit for source files"},
      {"NUL inside the path", dir.path() / std::string("lib.zem\0.txt", 12), "the path contains a NUL byte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto text = sources.read_text(c.path);
    ASSERT_FALSE(text.ok()) << c.path;
    EXPECT_EQ(text.error().message, c.message);
  }
  close(listener);
}

TEST(ModuleSourcesReadText, FileAtTheLimitIsRead) {
  TempDir dir;
  const fs::path file = dir.write("big.zem", "# padding\n");
  fs::resize_file(file, kMaxSourceBytes);
  auto text = ModuleSources{}.read_text(file);
  ASSERT_TRUE(text.ok()) << text.error().message;
  EXPECT_EQ(text->size(), kMaxSourceBytes);
  EXPECT_EQ(text->substr(0, 10), "# padding\n");
}

TEST(CanonicalPath, ResolvesWhatExistsAndKeepsTheRest) {
  TempDir dir;
  const fs::path real = canonical_path(dir.path());
  fs::path file = dir.write("dir/file.zem", "program f\n");
  fs::create_directory_symlink(dir.path() / "dir", dir.path() / "link");

  struct Case {
    fs::path input;
    fs::path expected;
  };
  const Case cases[] = {
      {dir.path() / "link/./file.zem", real / "dir/file.zem"},
      {dir.path() / "dir/../dir/file.zem", real / "dir/file.zem"},
      // A file not yet written, in a directory that exists.
      {dir.path() / "link/new.zem", real / "dir/new.zem"},
      {dir.path() / "link/new.zem/", real / "dir/new.zem"},
      // Nothing to resolve against: unchanged.
      {dir.path() / "gone/new.zem", dir.path() / "gone/new.zem"},
      {"dravelin-no-such-file.zem", "dravelin-no-such-file.zem"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(canonical_path(c.input).native(), c.expected.native()) << c.input;
}

TEST(SourceKey, MissingFoldersAreNormalisedAsTheFileSystemWouldWalkThem) {
  TempDir dir;
  const fs::path real = canonical_path(dir.path());
  fs::create_directory_symlink(dir.path(), dir.path() / "link");
  dir.write("on_disk.zem", "program d\n");
  // Unsaved documents in folders that do not exist: "ghost/dir" and "ghost/side" are folders only through them.
  const fs::path ghost = real / "ghost";
  std::map<fs::path, std::string> overlay{{ghost / "dir/b.zem", ""}, {ghost / "side/s.zem", ""}, {ghost / "top.zem", ""}};

  struct Case {
    const char* name;
    fs::path input;
    fs::path expected;
  };
  const Case cases[] = {
      {"plain", ghost / "dir/b.zem", ghost / "dir/b.zem"},
      {"dot", ghost / "dir/./b.zem", ghost / "dir/b.zem"},
      {"dots and empty components", dir.path() / "ghost/./dir//./b.zem", ghost / "dir/b.zem"},
      {"back over a folder of the overlay", ghost / "dir/../dir/b.zem", ghost / "dir/b.zem"},
      {"to a sibling folder", ghost / "dir/../side/s.zem", ghost / "side/s.zem"},
      {"up two", ghost / "dir/../../ghost/top.zem", ghost / "top.zem"},
      // Back on disk, links are resolved again.
      {"back onto the disk", ghost / "../link/ghost/dir/b.zem", ghost / "dir/b.zem"},
      {"existing part through a link", dir.path() / "link/ghost/dir/./b.zem", ghost / "dir/b.zem"},
      // The file system refuses ".." after a name it does not have: so does the key, which then matches nothing.
      {"back over a folder nobody has", ghost / "dir/nope/../b.zem", ghost / "dir/nope/../b.zem"},
      {"back over a file", ghost / "top.zem/../dir/b.zem", ghost / "top.zem/../dir/b.zem"},
      {"back over a file on disk", dir.path() / "on_disk.zem/../ghost/top.zem", dir.path() / "on_disk.zem/../ghost/top.zem"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(source_key(c.input, overlay).native(), c.expected.native()) << c.name;
  // Without missing folders the key is the canonical path.
  EXPECT_EQ(source_key(dir.path() / "link/on_disk.zem", overlay), real / "on_disk.zem");
  EXPECT_EQ(source_key(dir.path() / "link/new.zem", overlay), real / "new.zem");
}

TEST(ModuleSourcesOverlay, UnsavedDocumentsInAMissingFolderFindEachOther) {
  TempDir dir;
  const fs::path ghost = canonical_path(dir.path()) / "ghost";
  ModuleSources sources;
  sources.roots = {ghost / "lib"};
  sources.overlay[ghost / "app/b.zem"] = "program b\n";
  sources.overlay[ghost / "app/sub/c.zem"] = "program c\n";
  sources.overlay[ghost / "lib/l.zem"] = "program l\n";
  sources.overlay[ghost / "outside.zem"] = "program outside\n";
  const fs::path importer = ghost / "app/a.zem";

  struct Case {
    const char* written;
    std::optional<std::string> text;  // none: not found
  };
  const Case cases[] = {
      {"./b.zem", "program b\n"},
      {"./././b.zem", "program b\n"},
      {"../app/b.zem", "program b\n"},
      {"./sub/../b.zem", "program b\n"},
      {"./sub/../sub/c.zem", "program c\n"},
      {"../outside.zem", "program outside\n"},
      {"l.zem", "program l\n"},
      {"./lib/../b.zem", std::nullopt},     // "app/lib" is no folder
      {"x/../../outside.zem", std::nullopt},  // out of the root through a folder that does not exist
      {"../lib/../../ghost/outside.zem", "program outside\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    auto resolved = sources.resolve(importer, c.written);
    ASSERT_EQ(resolved.ok(), c.text.has_value());
    if (!c.text) continue;
    auto text = sources.read_text(*resolved);
    ASSERT_TRUE(text.ok()) << text.error().message;
    EXPECT_EQ(*text, *c.text);
  }
}

TEST(DisplayPath, ReplacesMalformedBytes) {
  EXPECT_EQ(display_path("lib/caf\xc3\xa9.zem"), "lib/caf\xc3\xa9.zem");
  EXPECT_EQ(display_path("lib/caf\xe9.zem"), "lib/caf\xef\xbf\xbd.zem");
  // A truncated three-byte sequence is one replacement, not two.
  EXPECT_EQ(display_path("a\xe2\x82z"), "a\xef\xbf\xbdz");
}

}  // namespace
}  // namespace dravelin::compiler
