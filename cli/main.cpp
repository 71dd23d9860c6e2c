// veltrad-cli: the command-line face of Veltrad.

#include "cli/Commands.h"
#include "cli/Console.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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

int main(int argc, char** argv)
{
    // Broken pipes and full disks on stdout and stderr never end a run; a
    // result that could not be written shows in the exit status below.
    veltrad::cli::IgnoreBrokenPipes();

    CLI::App app{"veltrad-cli: load a program image into a KV-9090 terminal over a serial line"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "veltrad-cli 2.0");

    int exitCode = veltrad::kExitOk;
    veltrad::cli::RegisterFramesCommand(app, exitCode);
    veltrad::cli::RegisterDownloadCommand(app, exitCode);
    veltrad::cli::RegisterPortsCommand(app, exitCode);

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
            std::fprintf(stderr, "veltrad-cli: FILE %s looks like an option; write ./%s, or -- before it\n",
                         dashed->c_str(), dashed->c_str());
        } else {
            app.exit(e);
        }
        return veltrad::kExitUsage;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return veltrad::kExitUsage;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "veltrad-cli: cannot write the result to standard output\n");
        if (exitCode == veltrad::kExitOk)
            exitCode = veltrad::kExitUsage;
    }
    return exitCode;
}
