// veltrad-cli: the command-line face of Veltrad.

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Console.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace veltrad::cli {

namespace {

// The argument that CLI11 left over because it starts like an option, for a
// subcommand whose FILE is then missing: "-image.bin" is a file's name.
std::optional<std::string> DashedArgument(const CLI::App& app)
{
    for (const CLI::App* sub : app.get_subcommands()) {
        for (const std::string& argument : sub->remaining()) {
            if (argument.size() > 1 && argument.front() == '-')
                return argument;
        }
    }
    return std::nullopt;
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv)
{
    // Broken pipes and full disks on stdout and stderr never end a run; a
    // result that could not be written shows in the exit status below.
    IgnoreBrokenPipes();

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
    } catch (const CLI::RequiredError& e) {
        const auto dashed = std::string_view(e.what()).starts_with("FILE ") ? DashedArgument(app) : std::nullopt;
        if (dashed) {
            WriteText(stderr, "veltrad-cli: FILE " + *dashed + " looks like an option; write ./" + *dashed +
                                  ", or -- before it\n");
        } else {
            app.exit(e);
        }
        return kExitUsage;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        WriteText(stderr, "veltrad-cli: cannot write the result to standard output\n");
        if (exitCode == kExitOk)
            exitCode = kExitUsage;
    }
    return exitCode;
}

}  // namespace veltrad::cli
