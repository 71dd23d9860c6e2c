#pragma once
// Ctrl-C, termination and hang-up for the length of a run: the handler only
// records the signal; the main thread polls it and does the stopping itself.

#include <csignal>
#include <utility>
#include <vector>

namespace veltrad::cli {

class CStopSignals {
public:
    // Installs the handler for every StopSignalNumbers() signal.
    CStopSignals();
    // Puts back what was there before.
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    bool Raised() const;

private:
    using Handler = void (*)(int);
    std::vector<std::pair<int, Handler>> m_previous;
};

}  // namespace veltrad::cli
