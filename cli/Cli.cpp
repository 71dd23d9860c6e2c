// veltrad-cli: the command-line face of Veltrad.

#include "cli/Cli.h"
#include "cli/Commands.h"

namespace veltrad::cli {

int RunCommandLine(int argc, const char* const* argv)
{
    CLI::App app{"veltrad-cli: load a program image into a KV-9090 terminal over a serial line"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "veltrad-cli 2.0");

    int exitCode = kExitOk;
    RegisterFramesCommand(app, exitCode);
    RegisterDownloadCommand(app, exitCode);
    RegisterPortsCommand(app, exitCode);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    return exitCode;
}

}  // namespace veltrad::cli
