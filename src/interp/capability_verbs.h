// The verbs a program calls on each capability, as run start compares them with the manifests of the hosts.
#pragma once

#include <map>
#include <set>
#include <string>

#include "ir/program.h"

namespace dravelin::interp {

// Capability name (the program's own, after a module's mapping) to the verbs called on it, both in byte order.
using CapabilityVerbs = std::map<std::string, std::set<std::string>>;

// Walks every task body, def body and machine transition body. Inside a unit of a `use` module the capabilities
// in scope are those its `use` maps (by the program's names, as the compiler writes them, or by the module's
// own, counted under the names they are mapped to); elsewhere they are the program's. A verb counts where it is called on a capability's bare name, with or without arguments
// (`files.list` without parentheses is a call too). Verbs inside a judgment's question are not counted: a
// question never reaches a capability.
CapabilityVerbs collect_capability_verbs(const ir::Ir& ir);

}  // namespace dravelin::interp
