#pragma once
// Carries a run's events from its worker thread to the main window. The
// worker queues each event under a short lock and, when the queue was empty,
// posts one wake-up to the GUI thread; there the events are handed to the
// window one by one, in order. The worker never waits for the window, so the
// window may stop and join the worker at any time.

#include "download/RunObserver.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace veltrad {

class CVeltradDlg;

class CRunEventBridge final : public QObject, public IRunObserver {
    Q_OBJECT

public:
    // Lives on the window's thread; the window must outlive every run (it
    // joins the worker before it goes).
    explicit CRunEventBridge(CVeltradDlg& dialog);

    void OnProgressStep(std::uint64_t runId) override;
    void OnProgressReset(std::uint64_t runId) override;
    void OnEnableControls(std::uint64_t runId, bool enable) override;
    void OnNotice(std::uint64_t runId, Notice notice) override;
    void OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats& stats) override;

private:
    struct Event {
        enum class Kind { ProgressStep, ProgressReset, EnableControls, ShowNotice, RunEnded };
        Kind kind;
        std::uint64_t runId;
        bool enable = false;
        Notice notice = Notice::Complete;
        RunOutcome outcome = RunOutcome::Stopped;
    };

    void Queue(const Event& event);
    std::optional<Event> Next();
    // On the GUI thread: hands every queued event to the window.
    Q_INVOKABLE void DeliverEvents();

    CVeltradDlg& m_dialog;
    std::mutex m_lock;
    std::deque<Event> m_events;  // guarded by m_lock
};

}  // namespace veltrad
