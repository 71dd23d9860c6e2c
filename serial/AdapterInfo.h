#pragma once
// What the port object learned about the adapter behind the device it opened
// last: enough for a front end to explain slow replies. A USB adapter that
// holds received bytes until its latency timer runs out delays every one-byte
// reply by up to that timer.

#include <optional>
#include <string>

namespace veltrad {

struct AdapterInfo {
    // Kernel driver ("ftdi_sio", "ch341-uart", "cdc_acm", "serial8250") or,
    // on Windows, "FTDIBUS" for FTDI's own driver and the port's service
    // otherwise; empty when the system does not say (a pseudo-terminal).
    std::string driver;
    // The adapter's receive latency timer after the open, where it has one.
    std::optional<int> latencyTimerMs;
    // The driver took the low-latency request (POSIX only; Windows has none).
    bool lowLatencyGranted = false;
};

}  // namespace veltrad
