#pragma once
// What `veltrad-cli download` shows and prints of its runs. One port is
// shown as a single run always was: a progress bar on a terminal, then its
// sentence (or its JSON object) and the adapter hints. Several ports, or one
// with a log, get a line each (redrawn in place on a terminal, else one as
// each run ends), then a summary (or a JSON array) and the command that
// loads the failed terminals again.

#include "cli/LiveLines.h"
#include "multiport/PortResult.h"
#include "serial/AdapterInfo.h"

#include <memory>
#include <string>
#include <vector>

namespace veltrad::cli {

struct DownloadOptions {
    std::vector<std::string> ports;  // in the order given; COMn names or device paths
    std::string file;
    bool json = false;    // one object for a single port, else an array of them, on stdout
    std::string logFile;  // empty: no run log

    // One port without a log: shown as a single run.
    bool SinglePort() const { return ports.size() == 1 && logFile.empty(); }
};

// One port at the end.
struct PortReport {
    PortResult result;
    bool ran = false;     // its worker ran; false: the run never started
    AdapterInfo adapter;  // what the port's open found out about its adapter
};

class IDownloadView {
public:
    virtual ~IDownloadView() = default;
    // A few times a second while runs go on, one line per port in order.
    virtual void Draw(const std::vector<PortLine>& lines) = 0;
    // A port's run has ended, or failed to start, as it happens.
    virtual void Ended(const PortResult& result, bool ran) = 0;
    // Every port, in order; `imageSent` false when no run started at all
    // (the reason is on stderr already).
    virtual void Final(const std::vector<PortReport>& ports, bool imageSent) = 0;
};

std::unique_ptr<IDownloadView> MakeDownloadView(const DownloadOptions& options);

// The command that loads the ports that did not complete again, as the
// shell reads it back: quoted where needed, and an argument that starts
// with "-" kept from reading as an option.
std::string RetryCommand(const DownloadOptions& options, const std::vector<PortResult>& results);

}  // namespace veltrad::cli
