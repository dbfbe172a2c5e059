// The verbs a program calls on each of its tools, for checking the program against tool manifests before a run.
#pragma once

#include <map>
#include <set>
#include <string>

#include "ir/nodes.h"

namespace dravelin::compiler {

// Tool name to the verbs used on it, both ordered by bytes.
using ToolVerbs = std::map<std::string, std::set<std::string>>;

// One entry per `tool` need of the root program, unused tools included with no verbs, and no other entries.
// A verb counts wherever `tool.verb` is written as a member access of the tool's bare name, anywhere in the
// program: called or not, inside judgment questions, guards, defaults and observations alike. Only names are
// looked at, so a local variable that bears a tool's name counts as the tool.
ToolVerbs used_tool_verbs(const ir::Ir& ir);

}  // namespace dravelin::compiler
