#include "cli/StopSignals.h"

#include "cli/Console.h"

namespace veltrad::cli {

namespace {

// The only state a signal handler may touch.
volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal)
{
    g_stopSignal = signal;
}

}  // namespace

CStopSignals::CStopSignals()
{
    g_stopSignal = 0;
    for (const int signal : StopSignalNumbers())
        m_previous.emplace_back(signal, std::signal(signal, OnStopSignal));
}

CStopSignals::~CStopSignals()
{
    for (const auto& [signal, handler] : m_previous) {
        if (handler != SIG_ERR)
            std::signal(signal, handler);
    }
}

bool CStopSignals::Raised() const
{
    return g_stopSignal != 0;
}

}  // namespace veltrad::cli
