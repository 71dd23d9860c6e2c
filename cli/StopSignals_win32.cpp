#include "cli/StopSignals.h"

#include "cli/ConsoleEvents_win32.h"

#include <atomic>
#include <utility>

namespace veltrad::cli {

namespace {

// Windows has no SIGTERM or SIGHUP from outside: a console program hears of
// Ctrl-C, Ctrl-Break (also what GenerateConsoleCtrlEvent sends), the console
// window closing, and logoff and shutdown; each reaches the handler below on
// a thread of its own.
std::atomic<bool> g_stopRequested{false};
// Set once the program has stopped its runs and said and logged their ends.
HANDLE g_done = nullptr;
// A close, logoff or shutdown ends the process once the handler returns, or
// about 5 s after the event whatever it does; this stays just inside that.
constexpr DWORD kCloseGraceMs = 4500;
int g_installed = 0;  // CStopSignals alive; made and ended on the main thread only

}  // namespace

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_stopRequested = true;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && g_done != nullptr)
        ::WaitForSingleObject(g_done, kCloseGraceMs);
    return TRUE;  // handled: the program stops by its own steps
}

CStopSignals::CStopSignals()
{
    if (g_installed++ > 0)
        return;
    g_stopRequested = false;
    if (g_done == nullptr)
        g_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // kept: a handler may still wait on it
    else
        ::ResetEvent(g_done);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CStopSignals::~CStopSignals()
{
    if (--g_installed > 0)
        return;
    // Everything is out by now: a waiting close may end the process.
    if (g_done != nullptr)
        ::SetEvent(g_done);
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool CStopSignals::Raised() const { return g_stopRequested.load(); }

// Nothing to hold back: the events interrupt no call of this thread.
void WithStopSignalsHeld(const std::function<void()>& body) { body(); }

// Console control events reach a thread of their own here, never a worker.
std::thread StartWithoutStopSignals(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace veltrad::cli
