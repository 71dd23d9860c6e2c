#pragma once
// Each subcommand of veltrad-cli registers itself on the application and
// stores its exit status in `exitCode` when it runs.

#include "multiport/ExitStatus.h"

#include <CLI/CLI.hpp>

namespace veltrad::cli {

void RegisterFramesCommand(CLI::App& app, int& exitCode);
void RegisterDownloadCommand(CLI::App& app, int& exitCode);
void RegisterPortsCommand(CLI::App& app, int& exitCode);

}  // namespace veltrad::cli
