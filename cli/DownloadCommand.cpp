// `veltrad-cli download --port PORT FILE`: loads FILE into the terminal on
// PORT, the way the download button does, and says how it went.

#include "cli/Commands.h"
#include "cli/MultiDownload.h"

#include <memory>

namespace veltrad::cli {

void RegisterDownloadCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<DownloadOptions>();
    CLI::App* cmd = app.add_subcommand("download", "Load FILE into the terminal on PORT");
    cmd->add_option("--port", options->ports,
                    "COM1 ... COM50, or a serial device path; repeat it to load several terminals at once "
                    "(exit status 0 when all complete, else that of the first port, in order, that did not)")
        ->required()
        ->allow_extra_args(false);
    cmd->add_option("FILE", options->file, "Image file")->required();
    cmd->add_flag("--json", options->json,
                  "Print the result as one JSON object, an array of them for several ports; a download refused "
                  "before any run prints {\"error\":...}");
    cmd->add_option("--log", options->logFile, "Append one line per port and run to this file");
    cmd->footer("Exit status: 0 completed, 1 bad arguments, unreadable file or a result that stdout or the\n"
                "log did not take, 2 port cannot be opened, 3 terminal silent before any acknowledgement,\n"
                "4 silent after some, 5 refused, 6 nothing to send, 7 every frame acknowledged but the closing\n"
                "bytes held back by the terminal's XOFF (end-held), 130 stopped by Ctrl-C, a termination signal\n"
                "or a hang-up.");
    cmd->callback([options, &exitCode] { exitCode = RunDownload(*options); });
}

}  // namespace veltrad::cli
