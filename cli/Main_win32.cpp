// veltrad-cli.exe's entry point: the arguments as Windows has them, in
// UTF-16, turned into UTF-8. main()'s would be in the ANSI code page, which
// loses every character outside it (a Korean file name on a Western PC).

#include "cli/Cli.h"
#include "cli/StopSignals.h"

#include "image/StandardStreams.h"
#include "multiport/ExitStatus.h"

#include "platform/Utf16_win32.h"

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    // First: from here a stop ends the program by its own steps, with its
    // result said; the commands share these handlers.
    const veltrad::cli::CStopSignals stops;
    // Then, before anything is opened: no file may take a stream's number.
    if (!veltrad::OpenStandardStreams())
        return veltrad::kExitUsage;
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(veltrad::Narrow(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& arg : args)
        pointers.push_back(arg.c_str());
    return veltrad::cli::RunCommandLine(argc, pointers.data());
}
