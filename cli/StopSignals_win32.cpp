#include "cli/StopSignals.h"

#include <array>
#include <csignal>
#include <utility>

namespace veltrad::cli {

namespace {

// SIGBREAK: Ctrl-Break in the console.
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGBREAK};

// The only state a signal handler may touch.
volatile std::sig_atomic_t g_stopSignal = 0;

using Handler = void (*)(int);
std::array<Handler, kStopSignals.size()> g_previous{};

void OnStopSignal(int signal)
{
    g_stopSignal = signal;
    // The C runtime resets a handler to the default before calling it.
    (void)std::signal(signal, OnStopSignal);
}

}  // namespace

CStopSignals::CStopSignals()
{
    g_stopSignal = 0;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        g_previous[i] = std::signal(kStopSignals[i], OnStopSignal);
}

CStopSignals::~CStopSignals()
{
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (g_previous[i] != SIG_ERR)
            (void)std::signal(kStopSignals[i], g_previous[i]);
    }
}

bool CStopSignals::Raised() const { return g_stopSignal != 0; }

// Console control events reach a thread of their own here, never a worker.
std::thread StartWithoutStopSignals(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace veltrad::cli
