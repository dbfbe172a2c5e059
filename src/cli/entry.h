// The process entry of `dravelin`: parses the arguments and runs the chosen subcommand.
#pragma once

namespace dravelin::cli {

// Returns the process exit status. Ends with stdout closed: a write that failed, there or on stderr, makes
// the status 1.
int run_main(int argc, char** argv);

}  // namespace dravelin::cli
