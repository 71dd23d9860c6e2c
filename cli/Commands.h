#pragma once
// Each subcommand of veltrad-cli registers itself on the application and
// stores its exit status in `exitCode` when it runs.

#include <CLI/CLI.hpp>

namespace veltrad::cli {

// Exit statuses shared by the subcommands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;  // bad arguments or unreadable file

void RegisterFramesCommand(CLI::App& app, int& exitCode);
void RegisterDownloadCommand(CLI::App& app, int& exitCode);
void RegisterPortsCommand(CLI::App& app, int& exitCode);

}  // namespace veltrad::cli
