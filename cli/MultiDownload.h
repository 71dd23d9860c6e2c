#pragma once
// `veltrad-cli download --port A --port B ... FILE`: FILE is read and framed
// once, and every port gets a session and a worker of its own over the same
// frames, all started together. A port that fails never stops the others;
// Ctrl-C, termination and hang-up stop them all, each port closed and each
// worker joined.

#include "multiport/PortResult.h"

#include <string>
#include <vector>

namespace veltrad::cli {

struct MultiDownloadOptions {
    std::vector<std::string> ports;  // in the order given; COMn names or device paths
    std::string file;
    bool json = false;    // an array of objects, one per port, on stdout
    std::string logFile;  // empty: no run log
};

// Runs the downloads and reports them. Returns 0 when every terminal
// completed, otherwise the exit status a single run would have had for the
// first port, in the order given, that did not complete; 1 for arguments
// that cannot be used (the same port twice, a log that cannot be opened).
int RunMultiDownload(const MultiDownloadOptions& options);

// The command that loads the ports that did not complete again, as the
// shell reads it back: quoted where needed, and an argument that starts
// with "-" kept from reading as an option.
std::string RetryCommand(const MultiDownloadOptions& options, const std::vector<PortResult>& results);

}  // namespace veltrad::cli
