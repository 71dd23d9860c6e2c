// veltrad-cli's entry point: the arguments are the bytes the shell gave.

#include "cli/Cli.h"

int main(int argc, char** argv) { return veltrad::cli::RunCommandLine(argc, argv); }
