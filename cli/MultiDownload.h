#pragma once
// `veltrad-cli download --port A [--port B ...] FILE`: FILE is read and
// framed once, and every port gets a run of its own over the same frames,
// all started together; one port is a download of one. A port that fails
// never stops the others; Ctrl-C, termination and hang-up stop them all,
// each port closed and each worker joined.

#include "cli/DownloadViews.h"

namespace veltrad::cli {

// Runs the downloads and reports them. Returns 0 when every terminal
// completed, otherwise the exit status a single run would have had for the
// first port, in the order given, that did not complete; 1 for arguments
// that cannot be used (the same port twice, a log that cannot be opened),
// said on stderr and, with --json, as {"error":...} on stdout.
int RunDownload(const DownloadOptions& options);

}  // namespace veltrad::cli
