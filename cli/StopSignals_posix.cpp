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
int g_installed = 0;  // CStopSignals alive; made and ended on the main thread only

void OnStopSignal(int signal) { g_stopSignal = signal; }

sigset_t StopSet()
{
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : kStopSignals)
        sigaddset(&stop, signal);
    return stop;
}

}  // namespace

CStopSignals::CStopSignals()
{
    if (g_installed++ > 0)
        return;
    g_stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // No SA_RESTART: a read that blocks (a stalled network or FUSE file)
    // returns EINTR, and the reader looks at the flag.
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        // A failure leaves that signal's default in place: it still ends the program.
        (void)sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
}

CStopSignals::~CStopSignals()
{
    if (--g_installed > 0)
        return;
    for (std::size_t i = 0; i < kStopSignals.size(); ++i)
        (void)sigaction(kStopSignals[i], &g_previous[i], nullptr);
}

bool CStopSignals::Raised() const { return g_stopSignal != 0; }

void WithStopSignalsHeld(const std::function<void()>& body)
{
    const sigset_t stop = StopSet();
    sigset_t previous;
    const bool held = ::pthread_sigmask(SIG_BLOCK, &stop, &previous) == 0;
    body();
    if (held)
        (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

std::thread StartWithoutStopSignals(std::function<void()> body)
{
    const sigset_t stop = StopSet();
    sigset_t previous;
    // The new thread inherits the mask; this one gets its own back at once.
    const bool masked = ::pthread_sigmask(SIG_BLOCK, &stop, &previous) == 0;
    std::thread worker(std::move(body));  // a failure to start throws, as std::thread does
    if (masked)
        (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return worker;
}

}  // namespace veltrad::cli
