// The process entry of `dravelin`: parses the arguments and runs the chosen subcommand.
#pragma once

namespace dravelin::cli {

// Returns the process exit status.
int run_main(int argc, char** argv);

}  // namespace dravelin::cli
