// veltrad-cli's entry point: the arguments are the bytes the shell gave.

#include "cli/Cli.h"
#include "cli/StopSignals.h"

#include "image/StandardStreams.h"
#include "multiport/ExitStatus.h"

int main(int argc, char** argv)
{
    // First: from here a stop ends the program by its own steps, with its
    // result said; the commands share these handlers.
    const veltrad::cli::CStopSignals stops;
    // Then, before anything is opened: no port or log may take a stream's number.
    if (!veltrad::OpenStandardStreams())
        return veltrad::kExitUsage;
    return veltrad::cli::RunCommandLine(argc, argv);
}
