// Statement rules and definite assignment: placement of control statements, immutability, shaped fields, and
// which names are assigned on every path to a read.
#include <gtest/gtest.h>

#include "check_test_support.h"

namespace dravelin::compiler::check_test {
namespace {

const char* const kUnassigned = " is read before it is assigned (spec section 5.3)";

std::string unassigned(const std::string& at, const std::string& name) {
  return at + " unassigned_read: `" + name + "`" + kUnassigned;
}

class StatementRules : public testing::TestWithParam<CheckCase> {};

TEST_P(StatementRules, Findings) { expect_root_findings(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Check, StatementRules,
    testing::Values(
        CheckCase{"VerifyOutsideTheTaskBody",
                  "program t\n"
                  "task main:\n"
                  "  if true:\n"
                  "    until verify(true), max 2:\n"
                  "      log info \"x\"\n"
                  "def d():\n"
                  "  until verify(true), max 2:\n"
                  "    log info \"y\"\n"
                  "  return 0\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on go \"go\" -> b:\n"
                  "      until verify(true), max 2:\n"
                  "        log info \"z\"\n"
                  "      return\n"
                  "  state b done\n"
                  "task second:\n"
                  "  until verify(true), max 2:\n"
                  "    log info \"fine\"\n",
                  {"4:4 syntax: `verify` goes on an `until` directly in the task body, not inside another statement's "
                   "block (spec section 7.4)",
                   "7:2 syntax: `verify` goes on an `until` directly in the task body, not in a `def` (spec section "
                   "7.4)",
                   "13:6 syntax: `verify` goes on an `until` directly in the task body, not in a machine action (spec "
                   "section 7.4)",
                   "15:6 syntax: `return` belongs to defs and tasks, not machine actions (spec section 7.8)"}},
        CheckCase{"AssigningInputsAndCapabilities",
                  "program t\n"
                  "in doc: text\n"
                  "in bot: text\n"
                  "needs bot: agent\n"
                  "needs kit: tool\n"
                  "task main:\n"
                  "  doc = \"new\"\n"
                  "  bot = \"b\"\n"
                  "  kit.cache = 1\n"
                  "  doc = shape:\n"
                  "    body \"x\", max 10\n"
                  "  doc.title = \"t\"\n",
                  {"7:2 assign_immutable: input `doc` is immutable (spec section 3.2)",
                   "8:2 assign_immutable: input `bot` is immutable (spec section 3.2)",
                   "9:2 assign_immutable: capability `kit` cannot be reassigned (spec section 3.4)",
                   "10:2 assign_immutable: input `doc` is immutable (spec section 3.2)",
                   "12:2 assign_immutable: input `doc` is immutable (spec section 3.2)"}},
        CheckCase{"LoopControl",
                  "program t\n"
                  "task main:\n"
                  "  break\n"
                  "  for x in [1, 2]:\n"
                  "    if x > 1:\n"
                  "      continue\n"
                  "  loop max 2:\n"
                  "    if true:\n"
                  "      break\n"
                  "  continue\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on go \"go\" -> b:\n"
                  "      break\n"
                  "  state b done\n",
                  {"3:2 loop_control_outside: `break` outside a loop (spec section 5.5)",
                   "10:2 loop_control_outside: `continue` outside a loop (spec section 5.5)",
                   "14:6 loop_control_outside: `break` outside a loop (spec section 5.5)"}},
        CheckCase{"GatesByUnit",
                  "program t\n"
                  "task main:\n"
                  "  gate confidence 0.5:\n"
                  "    proceed -> return 1\n"
                  "machine m():\n"
                  "  state a:\n"
                  "    on go \"go\" -> b:\n"
                  "      gate risk 0.1, confidence 0.9, done nope:\n"
                  "        proceed -> log info \"p\"\n"
                  "  state b done\n",
                  {"3:2 gate_args: a gate needs both `risk` and `confidence` (spec section 7.6)",
                   "8:6 machine_gate: an action block cannot `gate`; the machine's thresholds gate every step (spec "
                   "section 7.8)",
                   unassigned("8:42", "nope")}},
        CheckCase{"PausesAndEffectsInADef",
                  "program t\n"
                  "needs bot: agent\n"
                  "def d(x):\n"
                  "  if x > 1:\n"
                  "    stop \"too big\"\n"
                  "  escalate \"help {y}\"\n"
                  "  h = bot.spawn(x)\n"
                  "  x.stop\n"
                  "  return h\n"
                  "task main:\n"
                  "  stop \"done\"\n",
                  {"5:4 def_side_effect: a `def` cannot `stop`; pauses belong to tasks (spec section 8)",
                   "6:2 def_side_effect: a `def` cannot `escalate`; pauses belong to tasks (spec section 8)",
                   unassigned("6:18", "y"),
                   "7:6 def_side_effect: a `def` cannot call `bot.spawn`; defs are pure (spec section 8)",
                   "8:2 def_side_effect: a `def` cannot call `x.stop`; defs are pure (spec section 8)"}},
        CheckCase{"ShapedFieldsNeedACap",
                  "program t\n"
                  "in doc: text\n"
                  "task main:\n"
                  "  page = shape strict:\n"
                  "    body doc\n"
                  "    size len(doc)\n"
                  "    both doc + doc\n"
                  "    tags [\"a\", \"b\"]\n"
                  "    recent trail 10\n"
                  "    history trail 64\n"
                  "    note \"a lone text\"\n"
                  "    capped doc, max 100\n"
                  "  return page\n",
                  {"5:4 uncapped_field: field `body` has no `max`; every field that reaches Zem should say how large "
                   "it may be (spec section 7.2)",
                   "7:4 uncapped_field: field `both` has no `max`; every field that reaches Zem should say how large "
                   "it may be (spec section 7.2)",
                   "10:4 uncapped_field: field `history` has no `max`; every field that reaches Zem should say how "
                   "large it may be (spec section 7.2)",
                   "11:4 uncapped_field: field `note` has no `max`; every field that reaches Zem should say how "
                   "large it may be (spec section 7.2)"}}),
    case_name);

class DefiniteAssignment : public testing::TestWithParam<CheckCase> {};

TEST_P(DefiniteAssignment, Findings) { expect_root_findings(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Check, DefiniteAssignment,
    testing::Values(
        CheckCase{"IfElse",
                  "program t\n"
                  "task main:\n"
                  "  if true:\n"
                  "    x = 1\n"
                  "  else:\n"
                  "    x = 2\n"
                  "  y = x\n"
                  "  if true:\n"
                  "    z = 1\n"
                  "  elif false:\n"
                  "    z = 2\n"
                  "  w = z\n"
                  "  if true:\n"
                  "    return\n"
                  "  else:\n"
                  "    v = 1\n"
                  "  u = v\n",
                  {unassigned("12:6", "z")}},
        CheckCase{"DivergingBranchesNest",
                  "program t\n"
                  "def d(c):\n"
                  "  if c:\n"
                  "    if c > 1:\n"
                  "      return 1\n"
                  "    else:\n"
                  "      return 2\n"
                  "  else:\n"
                  "    x = 1\n"
                  "  return x\n"
                  "def e(c):\n"
                  "  if c:\n"
                  "    if c > 1:\n"
                  "      return 1\n"
                  "  else:\n"
                  "    x = 1\n"
                  "  return x\n",
                  {unassigned("17:9", "x")}},
        CheckCase{"GateArms",
                  "program t\n"
                  "task main:\n"
                  "  gate risk 0.1, confidence 0.9:\n"
                  "    proceed -> x = 1\n"
                  "    confirm -> x = 2\n"
                  "  a = x\n"
                  "  gate risk 0.1, confidence 0.9:\n"
                  "    proceed -> y = 1\n"
                  "  b = y\n"
                  "  gate risk 0.1, confidence 0.9:\n"
                  "    stop -> z = 1\n"
                  "    escalate -> z = 2\n"
                  "  c = z\n",
                  {unassigned("9:6", "y"), unassigned("13:6", "z")}},
        CheckCase{"LoopsKeepTheirNames",
                  "program t\n"
                  "task main:\n"
                  "  for i in [1]:\n"
                  "    a = i\n"
                  "  loop max 2:\n"
                  "    b = 1\n"
                  "  until true, max 2:\n"
                  "    c = 1\n"
                  "  d = [a, b, c, i]\n",
                  {unassigned("9:7", "a"), unassigned("9:10", "b"), unassigned("9:13", "c"),
                   unassigned("9:16", "i")}},
        CheckCase{"KnownWithoutAssignment",
                  "program t\n"
                  "in doc: text\n"
                  "needs bot: agent\n"
                  "def helper(x):\n"
                  "  return x\n"
                  "task main:\n"
                  "  a = [len([doc]), random(), std.stuck([]), bot, std, helper(doc), repeats([])]\n"
                  "  b = {a}\n"
                  "  c = {key: a}\n"
                  "  d = {missing}\n"
                  "  e = {key: mispelt}\n"
                  "  return [b, c, d, e, a + mispelt]\n",
                  {unassigned("10:7", "missing"), unassigned("11:12", "mispelt"), unassigned("12:26", "mispelt")}},
        CheckCase{"OrderOfReadsAndAssignments",
                  "program t\n"
                  "task main:\n"
                  "  x = x feels \"self\"\n"
                  "  return\n"
                  "  q = nope\n"
                  "  r = q\n"
                  "  s = [k for k in [1] if k > 0]\n"
                  "  u = k\n"
                  "  w.f = 1\n"
                  "  w = 1\n"
                  "  w.f = 2\n",
                  {unassigned("3:6", "x"), unassigned("5:6", "nope"), unassigned("8:6", "k"),
                   unassigned("9:2", "w")}},
        // A block takes back exactly what it added: names that held before it hold after it, even when the
        // block assigns them again or a loop or comprehension binds the same name.
        CheckCase{"NamesFromBeforeABlockSurviveIt",
                  "program t\n"
                  "task main:\n"
                  "  k = 1\n"
                  "  x = 1\n"
                  "  for k in [1]:\n"
                  "    x = k\n"
                  "    fresh = 1\n"
                  "  if k > 0:\n"
                  "    x = 2\n"
                  "  s = [k for k in [1]]\n"
                  "  return [k, x, s, fresh]\n",
                  {unassigned("11:19", "fresh")}},
        // Only the names that every continuing path adds hold after a branching statement, whatever order
        // the paths add them in and however deeply they are nested.
        CheckCase{"MergeKeepsWhatEveryPathAdds",
                  "program t\n"
                  "def d(c):\n"
                  "  if c > 1:\n"
                  "    a = 1\n"
                  "    b = 1\n"
                  "    if c > 2:\n"
                  "      e = 1\n"
                  "    else:\n"
                  "      e = 2\n"
                  "  elif c > 0:\n"
                  "    b = 2\n"
                  "    e = 2\n"
                  "    a = 2\n"
                  "  else:\n"
                  "    e = 3\n"
                  "    b = 3\n"
                  "    f = 3\n"
                  "  if c:\n"
                  "    g = 1\n"
                  "  else:\n"
                  "    return 0\n"
                  "  return [a, b, e, f, g]\n",
                  {unassigned("22:10", "a"), unassigned("22:19", "f")}},
        // Interpolations inside interpolations are checked once each, with the names bound where they stand.
        CheckCase{"InterpolationsNestedInInterpolations",
                  "program t\n"
                  "task main:\n"
                  "  t = \"a{\"b{\"c{missing}\"}\"}\"\n"
                  "  u = [\"{k}{\"{k}\"}\" for k in [1]]\n"
                  "  return [t, u]\n",
                  {unassigned("3:15", "missing")}},
        CheckCase{"JudgmentSubjectsAndSteps",
                  "program t\n"
                  "task main:\n"
                  "  rows = [1]\n"
                  "  a = rows[i] feels \"x\"\n"
                  "  b = missing.field feels \"x\"\n"
                  "  c = rows.field feels \"x\"\n",
                  {unassigned("4:11", "i"), unassigned("5:6", "missing")}}),
    case_name);

}  // namespace
}  // namespace dravelin::compiler::check_test
