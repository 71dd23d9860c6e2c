#pragma once
// The command line's work, given its arguments in UTF-8; each platform's
// entry point (Main_posix.cpp, Main_win32.cpp) hands them over.

namespace veltrad::cli {

// argv[0] is the program's name; returns the exit status.
int RunCommandLine(int argc, const char* const* argv);

}  // namespace veltrad::cli
