#pragma once
// Carries a run's events from its worker thread to the main window. Each
// event becomes a queued call on the window's thread; the worker never waits
// for the window, so the window may stop and join the worker at any time.

#include "download/RunObserver.h"

namespace veltrad {

class CVeltradDlg;

class CRunEventBridge final : public IRunObserver {
public:
    // The window must outlive every run: it joins the worker before it goes.
    explicit CRunEventBridge(CVeltradDlg& dialog) : m_dialog(dialog) {}

    void OnProgressStep(std::uint64_t runId) override;
    void OnProgressReset(std::uint64_t runId) override;
    void OnEnableControls(std::uint64_t runId, bool enable) override;
    void OnNotice(std::uint64_t runId, Notice notice) override;
    void OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats& stats) override;

private:
    CVeltradDlg& m_dialog;
};

}  // namespace veltrad
