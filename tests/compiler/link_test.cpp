#include "compiler/link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "compiler/module_cache.h"
#include "syntax/parse.h"
#include "temp_dir.h"

namespace dravelin::compiler {
namespace {

namespace fs = std::filesystem;
namespace ast = syntax::ast;
using syntax::Diagnostic;
using syntax::DiagnosticCode;
using syntax::NeedKind;
using test_support::TempDir;

const fs::path kLink = fs::path(DRAVELIN_TESTDATA) / "link";

ast::Program parse(const std::string& text) {
  auto parsed = syntax::parse_program(text);
  if (!parsed.ok()) {
    ADD_FAILURE() << "fixture does not parse: " << syntax::debug_string(parsed.error());
    return {};
  }
  return std::move(parsed).value();
}

using LinkResult = Result<std::vector<LinkedModule>, std::vector<Diagnostic>>;

LinkResult link(const std::string& text, const std::optional<fs::path>& path, const ModuleSources& sources = {}) {
  return link_program(parse(text), path, sources);
}

std::vector<std::string> aliases_of(const std::vector<LinkedModule>& modules) {
  std::vector<std::string> out;
  for (const LinkedModule& module : modules) out.push_back(module.alias);
  return out;
}

std::vector<Diagnostic> diagnostics_of(const LinkResult& result) {
  if (result.ok()) {
    ADD_FAILURE() << "expected link diagnostics";
    return {};
  }
  return result.error();
}

// The source text between two byte offsets of a span, to name the place a diagnostic points at.
std::string spanned(const std::string& text, const syntax::Span& span) {
  return text.substr(span.start.offset, span.end.offset - span.start.offset);
}

TEST(Link, WithoutUsesTheRootIsFollowedByThePrelude) {
  const std::string text =
      "program main\n"
      "needs search: tool:\n"
      "  find(query) -> text\n"
      "needs helper: agent\n"
      "needs helper: person\n";
  LinkResult result = link(text, fs::path("main.zem"));
  ASSERT_TRUE(result.ok());
  const std::vector<LinkedModule>& modules = *result;
  ASSERT_EQ(aliases_of(modules), (std::vector<std::string>{"", "std"}));

  const LinkedModule& root = modules[0];
  EXPECT_EQ(root.program.name, "main");
  EXPECT_EQ(root.source_path, fs::path("main.zem"));
  EXPECT_FALSE(root.use_path);
  EXPECT_TRUE(root.mapping.empty());
  EXPECT_EQ(root.aliases, (std::map<std::string, std::string>{{"std", "std"}}));
  EXPECT_EQ(root.span, root.program.span);
  ASSERT_EQ(root.capabilities.size(), 2u);
  EXPECT_EQ(root.capabilities.at("search").name, "search");
  EXPECT_EQ(root.capabilities.at("search").signatures.size(), 1u);
  // The later of two declarations of one name wins.
  EXPECT_EQ(root.capabilities.at("helper").kind, NeedKind::Person);

  const LinkedModule& prelude = modules[1];
  EXPECT_EQ(prelude, parse_prelude());
  EXPECT_EQ(prelude.program.name, "std");
  EXPECT_FALSE(prelude.source_path);
  EXPECT_TRUE(prelude.aliases.empty());
  EXPECT_TRUE(prelude.capabilities.empty());
  EXPECT_EQ(module_display_name(prelude), "<prelude>");
}

TEST(Link, ImportsLinkDepthFirstInDeclarationOrder) {
  const fs::path dir = kLink / "order";
  const std::string text =
      "program main\n"
      "use \"./a.zem\" as a\n"
      "use \"./b.zem\" as b\n";
  LinkResult result = link(text, dir / "main.zem");
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  const std::vector<LinkedModule>& m = *result;
  ASSERT_EQ(aliases_of(m), (std::vector<std::string>{"", "a", "a.c", "a.c.leaf", "b", "std"}));

  EXPECT_EQ(m[0].aliases, (std::map<std::string, std::string>{{"a", "a"}, {"b", "b"}, {"std", "std"}}));
  EXPECT_EQ(m[1].aliases, (std::map<std::string, std::string>{{"c", "a.c"}, {"std", "std"}}));
  EXPECT_EQ(m[2].aliases, (std::map<std::string, std::string>{{"leaf", "a.c.leaf"}, {"std", "std"}}));

  // Source paths are the resolved candidates, not canonicalized; use paths are as written.
  EXPECT_EQ(m[1].source_path->native(), (dir / "./a.zem").native());
  EXPECT_EQ(m[2].source_path->native(), (dir / "./sub/c.zem").native());
  EXPECT_EQ(m[3].source_path->native(), (dir / "sub/../leaf.zem").native());
  EXPECT_EQ(m[3].use_path, "../leaf.zem");
  EXPECT_EQ(m[3].program.name, "leaf");
  EXPECT_EQ(module_display_name(m[3]), (dir / "sub/../leaf.zem").string());

  // An import's span is that of the `use` that brought it in.
  EXPECT_EQ(spanned(text, m[4].span), "use \"./b.zem\" as b");
}

TEST(Link, DiamondLinksTheSharedLibraryOncePerRoute) {
  LinkResult result = link(
      "program main\n"
      "use \"./left.zem\" as left\n"
      "use \"./right.zem\" as right\n",
      kLink / "diamond" / "main.zem");
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  EXPECT_EQ(aliases_of(*result),
            (std::vector<std::string>{"", "left", "left.base", "right", "right.base", "std"}));
  EXPECT_EQ((*result)[2].program, (*result)[4].program);
}

TEST(Link, CyclesAreRefusedWhereTheyClose) {
  const fs::path dir = kLink / "cycle";
  {
    LinkResult result = link("program main\nuse \"./a.zem\" as a\n", dir / "main.zem");
    std::vector<Diagnostic> d = diagnostics_of(result);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, DiagnosticCode::UseCycle);
    EXPECT_EQ(d[0].severity, syntax::Severity::Error);
    EXPECT_EQ(d[0].message,
              "`./a.zem` is already being linked: modules cannot import each other (spec section 3.9)");
    // Reported in b.zem, whose `use` closes the cycle, at that declaration.
    EXPECT_EQ(d[0].file, (dir / "./b.zem").string());
    EXPECT_EQ(d[0].span.start.line, 2u);
    EXPECT_TRUE(d[0].related.empty());
  }
  {
    // The root itself, imported under another spelling of its own path.
    const std::string text = "program main\nuse \"../cycle/main.zem\" as me\n";
    std::vector<Diagnostic> d = diagnostics_of(link(text, dir / "main.zem", ModuleSources{{}, {{dir / "main.zem", text}}}));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, DiagnosticCode::UseCycle);
    EXPECT_EQ(d[0].file, (dir / "main.zem").string());
    EXPECT_EQ(spanned(text, d[0].span), "use \"../cycle/main.zem\" as me");
  }
}

TEST(Link, UnsavedModulesInAMissingFolderAreOneModuleWhateverTheSpelling) {
  // Without one identity for every spelling, this cycle would link afresh under longer and longer paths.
  TempDir dir;
  const fs::path app = canonical_path(dir.path()) / "ghost" / "app";
  ModuleSources sources;
  sources.overlay[app / "a.zem"] = "program a\nuse \"./b.zem\" as b\n";
  sources.overlay[app / "b.zem"] = "program b\nuse \"../app/./a.zem\" as a\n";
  std::vector<Diagnostic> d = diagnostics_of(link(sources.overlay[app / "a.zem"], app / "a.zem", sources));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].code, DiagnosticCode::UseCycle);
  EXPECT_EQ(d[0].file, (app / "./b.zem").string());

  sources.overlay[app / "b.zem"] = "program b\n";
  LinkResult linked = link("program main\nuse \"./b.zem\" as b\nuse \"../app/b.zem\" as again\n", app / "main.zem", sources);
  ASSERT_TRUE(linked.ok()) << syntax::debug_string(linked.error());
  EXPECT_EQ((*linked)[1].program, (*linked)[2].program);
}

TEST(Link, AliasesMustBeNewInTheirModule) {
  const fs::path dir = kLink / "order";
  {
    // `as std` is refused before the path is even looked for.
    const std::string text = "program main\nuse \"./nowhere.zem\" as std\n";
    std::vector<Diagnostic> d = diagnostics_of(link(text, dir / "main.zem"));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, DiagnosticCode::DuplicateName);
    EXPECT_EQ(d[0].message, "module alias `std` is already in use");
    EXPECT_EQ(spanned(text, d[0].span), "std");
    EXPECT_TRUE(d[0].related.empty());
  }
  {
    const std::string text =
        "program main\n"
        "use \"./b.zem\" as lib\n"
        "use \"./a.zem\" as lib\n";
    std::vector<Diagnostic> d = diagnostics_of(link(text, dir / "main.zem"));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, DiagnosticCode::DuplicateName);
    EXPECT_EQ(d[0].message, "module alias `lib` is already in use");
    EXPECT_EQ(d[0].file, (dir / "main.zem").string());
    EXPECT_EQ(d[0].span.start.line, 3u);
    EXPECT_TRUE(d[0].related.empty());
  }
  {
    // An import that failed never took its alias, so the next one may use it.
    LinkResult result = link(
        "program main\n"
        "use \"./nowhere.zem\" as lib\n"
        "use \"./b.zem\" as lib\n",
        dir / "main.zem");
    std::vector<Diagnostic> d = diagnostics_of(result);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].message, "cannot find module `./nowhere.zem` (spec section 3.9)");
  }
}

TEST(Link, ImportProblemsAreReportedWordForWordAndLinkingGoesOn) {
  const fs::path dir = kLink / "errors";
  const std::string text =
      "program main\n"
      "use \"./{name}.zem\" as std\n"
      "use \"./missing.zem\" as missing\n"
      "use \"./folder\" as folder\n"
      "use \"./broken.zem\" as broken\n"
      "use \"./io_program.zem\" as io with helper, extra\n"
      "needs helper: agent\n";
  std::vector<Diagnostic> d = diagnostics_of(link(text, dir / "main.zem"));
  const std::string main_file = (dir / "main.zem").string();

  struct Expected {
    DiagnosticCode code;
    std::string message;
    std::string file;
    std::string spanned;  // empty: not a span of the root's text
  };
  const std::vector<Expected> expected = {
      // The interpolation is refused before the alias `std` is looked at.
      {DiagnosticCode::UseNotFound, "a `use` path is a plain text literal with no interpolation (spec section 3.9)",
       main_file, "use \"./{name}.zem\" as std"},
      {DiagnosticCode::UseNotFound, "cannot find module `./missing.zem` (spec section 3.9)", main_file,
       "use \"./missing.zem\" as missing"},
      {DiagnosticCode::UseNotFound, "cannot read module `./folder`: Is a directory", main_file,
       "use \"./folder\" as folder"},
      // The library's own syntax error, in its file; its imports are never followed.
      {DiagnosticCode::Syntax, "", (dir / "./broken.zem").string(), ""},
      {DiagnosticCode::UseHasInputs,
       "`./io_program.zem` declares `out summary`, so it is a program, not a library (spec section 3.9)", main_file,
       "use \"./io_program.zem\" as io with helper, extra"},
      {DiagnosticCode::UseNeedsUnmapped,
       "`./io_program.zem` declares no `needs extra` for the `with` clause to bind (spec section 3.9)", main_file,
       "extra"},
  };
  ASSERT_EQ(d.size(), expected.size()) << syntax::debug_string(d);
  for (size_t i = 0; i < d.size(); ++i) {
    EXPECT_EQ(d[i].code, expected[i].code) << i;
    EXPECT_EQ(d[i].severity, syntax::Severity::Error) << i;
    if (!expected[i].message.empty()) {
      EXPECT_EQ(d[i].message, expected[i].message) << i;
    }
    EXPECT_EQ(d[i].file, expected[i].file) << i;
    if (!expected[i].spanned.empty()) {
      EXPECT_EQ(spanned(text, d[i].span), expected[i].spanned) << i;
    }
    EXPECT_TRUE(d[i].related.empty()) << i;
  }
  EXPECT_EQ(d[3].span.start.line, 4u);
}

TEST(Link, WithClausesBindLibraryNeedsKindForKind) {
  const fs::path dir = kLink / "with";
  struct Case {
    std::string with;
    // Expected diagnostics as (message, spanned text); empty when the import links.
    std::vector<std::pair<std::string, std::string>> problems;
  };
  const std::string use = "use \"./tools.zem\" as tools";
  const std::vector<Case> cases = {
      {" with search: finder, helper: boss, web", {}},
      {" with search: finder, web",
       {{"`./tools.zem` needs `helper` and the `with` clause does not map it (spec section 3.9)", use + " with search: finder, web"}}},
      {" with search: finder, helper: boss, web: nobody",
       {{"`nobody` is not a capability of the importing program (spec section 3.9)", "web: nobody"}}},
      {" with search: boss, helper, web",
       {{"`./tools.zem` needs `search` as tool but `boss` is agent (spec section 3.9)", "search: boss"},
        {"`./tools.zem` needs `helper` as agent but `helper` is person (spec section 3.9)", "helper"}}},
      {"",
       {{"`./tools.zem` needs `search` and the `with` clause does not map it (spec section 3.9)", use},
        {"`./tools.zem` needs `helper` and the `with` clause does not map it (spec section 3.9)", use},
        {"`./tools.zem` needs `web` and the `with` clause does not map it (spec section 3.9)", use}}},
  };
  for (const Case& c : cases) {
    const std::string text =
        "program main\n" + use + c.with +
        "\n"
        "needs finder: tool:\n"
        "  lookup(a, b) -> record\n"
        "needs boss: agent\n"
        "needs helper: person\n"
        "needs web: tool:\n"
        "  get(url) -> text\n";
    LinkResult result = link(text, dir / "main.zem");
    if (c.problems.empty()) {
      ASSERT_TRUE(result.ok()) << c.with << syntax::debug_string(result.error());
      continue;
    }
    std::vector<Diagnostic> d = diagnostics_of(result);
    ASSERT_EQ(d.size(), c.problems.size()) << c.with;
    for (size_t i = 0; i < d.size(); ++i) {
      EXPECT_EQ(d[i].code, DiagnosticCode::UseNeedsUnmapped) << c.with;
      EXPECT_EQ(d[i].message, c.problems[i].first) << c.with;
      EXPECT_EQ(spanned(text, d[i].span), c.problems[i].second) << c.with;
      EXPECT_EQ(d[i].file, (dir / "main.zem").string());
    }
  }
}

TEST(Link, BindingsLeadToTheRootsCapabilities) {
  const fs::path dir = kLink / "with";
  LinkResult result = link(
      "program main\n"
      "use \"./tools.zem\" as tools with search: finder, helper: boss, web\n"
      "use \"./relay.zem\" as relay with net: web\n"
      "needs finder: tool:\n"
      "  lookup(a, b) -> record\n"
      "needs boss: agent\n"
      "needs web: tool:\n"
      "  get(url) -> text\n",
      dir / "main.zem");
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  const std::vector<LinkedModule>& m = *result;
  ASSERT_EQ(aliases_of(m), (std::vector<std::string>{"", "tools", "relay", "relay.leaf", "std"}));

  const LinkedModule& tools = m[1];
  EXPECT_EQ(tools.mapping, (std::vector<ir::NeedMapping>{{"search", "finder", NeedKind::Tool},
                                                          {"helper", "boss", NeedKind::Agent},
                                                          {"web", "web", NeedKind::Tool}}));
  // A need with its own signature block keeps it; one without takes the importer's.
  ASSERT_EQ(tools.capabilities.at("search").signatures.size(), 1u);
  EXPECT_EQ(tools.capabilities.at("search").signatures[0].name, "find");
  EXPECT_EQ(tools.capabilities.at("search").name, "finder");
  ASSERT_EQ(tools.capabilities.at("web").signatures.size(), 1u);
  EXPECT_EQ(tools.capabilities.at("web").signatures[0].name, "get");
  EXPECT_EQ(tools.capabilities.at("helper"), (CapabilityBinding{"boss", {}, NeedKind::Agent}));

  // Two levels down, `fetch` is bound to `net`, which is bound to the root's `web`.
  const LinkedModule& leaf = m[3];
  EXPECT_EQ(leaf.mapping, (std::vector<ir::NeedMapping>{{"fetch", "net", NeedKind::Tool}}));
  EXPECT_EQ(leaf.capabilities.at("fetch").name, "web");
  ASSERT_EQ(leaf.capabilities.at("fetch").signatures.size(), 1u);
  EXPECT_EQ(leaf.capabilities.at("fetch").signatures[0].name, "get");
}

TEST(Link, ProgramWithoutPathResolvesAgainstTheCurrentDirectory) {
  const fs::path here = fs::current_path();
  ModuleSources sources;
  sources.overlay[here / "dravelin-link-overlay.zem"] = "program overlay_lib\n";
  LinkResult linked = link("program main\nuse \"./dravelin-link-overlay.zem\" as lib\n", std::nullopt, sources);
  ASSERT_TRUE(linked.ok()) << syntax::debug_string(linked.error());
  EXPECT_EQ((*linked)[1].source_path->native(), "././dravelin-link-overlay.zem");
  EXPECT_FALSE((*linked)[0].source_path);
  EXPECT_EQ(module_display_name((*linked)[0]), std::nullopt);

  std::vector<Diagnostic> d = diagnostics_of(link("program main\nuse \"./dravelin-absent.zem\" as lib\n", std::nullopt));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_FALSE(d[0].file);
}

TEST(Link, SearchRootsServeNonRelativePaths) {
  ModuleSources sources;
  sources.roots = {kLink / "roots" / "first", kLink / "roots" / "second"};
  LinkResult result = link(
      "program main\n"
      "use \"shared.zem\" as shared\n"
      "use \"only_second.zem\" as second\n",
      std::nullopt, sources);
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  EXPECT_EQ((*result)[1].program.name, "first_shared");
  EXPECT_EQ((*result)[2].program.name, "only_second");
}

// Tier k holds the join j<k>, which imports l<k> and r<k>; both import j<k+1>. Every route is a linked module,
// so the list doubles per tier, but each file is read and parsed once.
TEST(Link, LayeredDiamondsReadEachFileOnce) {
  constexpr int kDiamonds = 10;  // 21 tiers of files
  TempDir dir;
  for (int k = 0; k <= kDiamonds; ++k) {
    const std::string n = std::to_string(k);
    const std::string next = std::to_string(k + 1);
    std::string join = "program j" + n + "\n";
    if (k < kDiamonds) {
      join += "use \"./l" + n + ".zem\" as l\nuse \"./r" + n + ".zem\" as r\n";
      dir.write("l" + n + ".zem", "program l" + n + "\nuse \"./j" + next + ".zem\" as j\n");
      dir.write("r" + n + ".zem", "program r" + n + "\nuse \"./j" + next + ".zem\" as j\n");
    }
    join += "\ndef f" + n + "(x):\n  return x + " + n + "\n";
    dir.write("j" + n + ".zem", join);
  }
  const auto start = std::chrono::steady_clock::now();
  LinkResult result = link("program main\nuse \"./j0.zem\" as top\n", dir.path() / "main.zem");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  const std::vector<LinkedModule>& m = *result;

  // Joins: 2^(k) per tier; sides: 2 * 2^k per tier; plus the root and the prelude.
  const size_t joins = (size_t{1} << (kDiamonds + 1)) - 1;
  const size_t sides = 2 * ((size_t{1} << kDiamonds) - 1);
  ASSERT_EQ(m.size(), joins + sides + 2);
  std::set<std::string> distinct;
  for (const LinkedModule& module : m) distinct.insert(module.alias);
  EXPECT_EQ(distinct.size(), m.size());
  // Depth first: the first route runs down the left side to the bottom, and the last up the right.
  std::string left = "top";
  for (int k = 0; k < kDiamonds; ++k) left += ".l.j";
  EXPECT_EQ(m[2 * kDiamonds + 1].alias, left);
  EXPECT_EQ(m[2 * kDiamonds + 1].program.name, "j" + std::to_string(kDiamonds));
  EXPECT_EQ(m[m.size() - 2].alias.substr(m[m.size() - 2].alias.size() - 4), ".r.j");
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 10);
}

TEST(ModuleCache, ReadsAndParsesAFileOncePerCanonicalPath) {
  TempDir dir;
  fs::path file = dir.write("lib.zem", "program lib\n");
  ModuleSources sources;
  ModuleCache cache(sources);
  const fs::path& canonical = cache.canonical(file);
  const LoadedModule& first = cache.load(file, canonical);
  ASSERT_TRUE(std::holds_alternative<ast::Program>(first));

  // Gone from the disk, and asked for under another spelling: the first answer stands.
  fs::remove(file);
  const fs::path other = dir.path() / "./lib.zem";
  const LoadedModule& second = cache.load(other, cache.canonical(other));
  EXPECT_EQ(&first, &second);

  const fs::path missing = dir.path() / "missing.zem";
  EXPECT_TRUE(std::holds_alternative<ReadError>(cache.load(missing, cache.canonical(missing))));
}

TEST(LinkLookup, QualifiesAndFindsUnits) {
  EXPECT_EQ(qualify_name("", "x"), "x");
  EXPECT_EQ(qualify_name("a.b", "x"), "a.b.x");

  LinkResult result = link(
      "program main\n"
      "use \"./leaf.zem\" as lib\n"
      "use \"./b.zem\" as b\n"
      "def stuck(x):\n"
      "  return x\n"
      "task stuck:\n"
      "  return 1\n",
      kLink / "order" / "main.zem");
  ASSERT_TRUE(result.ok()) << syntax::debug_string(result.error());
  const std::vector<LinkedModule>& m = *result;
  const LinkedModule& root = m[0];
  const LinkedModule& lib = m[1];

  struct Case {
    const LinkedModule* module;
    std::vector<std::string> parts;
    CalleeResolution expected;
  };
  const Case cases[] = {
      {&root, {"focus_impl"}, callee::Found{"std.focus_impl", UnitKind::Def}},
      // A module's own unit hides the prelude's; of two units of one name, the later one answers.
      {&root, {"stuck"}, callee::Found{"stuck", UnitKind::Task}},
      {&lib, {"stuck"}, callee::Found{"std.stuck", UnitKind::Def}},
      {&lib, {"_hidden"}, callee::Found{"lib._hidden", UnitKind::Def}},
      {&root, {"lib", "shown"}, callee::Found{"lib.shown", UnitKind::Def}},
      {&root, {"b", "tb", "ignored"}, callee::Found{"b.tb", UnitKind::Task}},
      {&root, {"lib", "_hidden"}, callee::Private{"lib._hidden"}},
      {&root, {"std", "_x"}, callee::UnitMissing{"std", "_x"}},
      {&root, {"lib", "missing"}, callee::UnitMissing{"lib", "missing"}},
      {&root, {"nolib", "shown"}, callee::NotFound{}},
      {&root, {"nothing"}, callee::NotFound{}},
      {&root, {}, callee::NotFound{}},
      {&m.back(), {"stuck"}, callee::Found{"std.stuck", UnitKind::Def}},
  };
  // The lookups through the alias index answer as the lookups over the list.
  const ModuleIndex index(m);
  for (const Case& c : cases) {
    EXPECT_EQ(resolve_callee(m, *c.module, c.parts), c.expected) << ::testing::PrintToString(c.parts);
    EXPECT_EQ(resolve_callee(index, *c.module, c.parts), c.expected) << ::testing::PrintToString(c.parts);
  }
  EXPECT_EQ(prelude_public_names(index), prelude_public_names(m));
  EXPECT_EQ(find_unit(index, "lib._hidden"), find_unit(m, "lib._hidden"));

  // A qualified alias whose module is gone from the list.
  std::vector<LinkedModule> without_lib = {root, m.back()};
  EXPECT_EQ(resolve_callee(without_lib, root, {"lib", "shown"}), CalleeResolution(callee::ModuleMissing{}));

  // Private is about units that exist: a module named std that does hold `_x`.
  LinkedModule own_std;
  own_std.alias = "std";
  own_std.program = parse("program std\ndef _x():\n  return 1\n");
  EXPECT_EQ(resolve_callee({root, own_std}, root, {"std", "_x"}), CalleeResolution(callee::Private{"std._x"}));
  EXPECT_EQ(resolve_callee({root, own_std}, root, {"_x"}), CalleeResolution(callee::NotFound{}));
  // Of two modules with one alias, the first answers, through the index as through the list.
  const std::vector<LinkedModule> two_stds = {root, own_std, m.back()};
  EXPECT_EQ(resolve_callee(ModuleIndex(two_stds), root, {"std", "_x"}),
            CalleeResolution(callee::Private{"std._x"}));
  EXPECT_EQ(prelude_public_names(ModuleIndex(two_stds)), std::set<std::string>{});

  // find_unit takes the first of two units of one name.
  const ast::Unit* stuck = find_unit(m, "stuck");
  ASSERT_NE(stuck, nullptr);
  EXPECT_EQ(unit_kind(*stuck), UnitKind::Def);
  EXPECT_NE(find_unit(m, "std.repeats"), nullptr);
  EXPECT_NE(find_unit(m, "lib._hidden"), nullptr);
  EXPECT_EQ(find_unit(m, "lib.stuck"), nullptr);
  EXPECT_EQ(find_unit(m, "nowhere.stuck"), nullptr);

  EXPECT_EQ(prelude_public_names(m), (std::set<std::string>{"focus_impl", "repeats", "stuck"}));
  EXPECT_TRUE(prelude_public_names({root}).empty());
}

}  // namespace
}  // namespace dravelin::compiler
