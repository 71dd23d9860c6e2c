#include "cli/StopSignals.h"

#include <array>
#include <csignal>
#include <signal.h>
#include <pthread.h>

#include <utility>

namespace veltrad::cli {

namespace {

// SIGHUP: the terminal window was closed or the session ended.
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// The only state a signal handler may touch.
volatile std::sig_atomic_t g_stopSignal = 0;
std::array<struct sigaction, kStopSignals.size()> g_previous{};

void OnStopSignal(int signal) { g_stopSignal = signal; }

}  // namespace

CStopSignals::CStopSignals()
{
    g_stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;  // as signal() has it: system calls go on after the flag is raised
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        // A failure leaves that signal's default in place: it still ends the program.
        (void)sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
}

CStopSignals::~CStopSignals()
{
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        (void)sigaction(kStopSignals[i], &g_previous[i], nullptr);
}

bool CStopSignals::Raised() const { return g_stopSignal != 0; }

std::thread StartWithoutStopSignals(std::function<void()> body)
{
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : kStopSignals)
        sigaddset(&stop, signal);
    sigset_t previous;
    // The new thread inherits the mask; this one gets its own back at once.
    const bool masked = ::pthread_sigmask(SIG_BLOCK, &stop, &previous) == 0;
    std::thread worker(std::move(body));  // a failure to start throws, as std::thread does
    if (masked)
        (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return worker;
}

}  // namespace veltrad::cli
