#include "cli/entry.h"

int main(int argc, char** argv) { return dravelin::cli::run_main(argc, argv); }
