#include "ui/RunEventBridge.h"

#include "ui/VeltradDlg.h"

#include <QMetaObject>

namespace veltrad {
namespace {

// Posts `call` to the window's thread; returns at once. A call still queued
// when the window goes is dropped with it.
template <class Call>
void Post(CVeltradDlg& dialog, Call call) {
    QMetaObject::invokeMethod(&dialog, std::move(call), Qt::QueuedConnection);
}

}  // namespace

void CRunEventBridge::OnProgressStep(std::uint64_t runId) {
    Post(m_dialog, [d = &m_dialog, runId] { d->OnRunProgressStep(runId); });
}

void CRunEventBridge::OnProgressReset(std::uint64_t runId) {
    Post(m_dialog, [d = &m_dialog, runId] { d->OnRunProgressReset(runId); });
}

void CRunEventBridge::OnEnableControls(std::uint64_t runId, bool enable) {
    Post(m_dialog, [d = &m_dialog, runId, enable] { d->OnRunEnableControls(runId, enable); });
}

void CRunEventBridge::OnNotice(std::uint64_t runId, Notice notice) {
    Post(m_dialog, [d = &m_dialog, runId, notice] { d->OnRunNotice(runId, notice); });
}

void CRunEventBridge::OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats&) {
    Post(m_dialog, [d = &m_dialog, runId, outcome] { d->OnRunEnded(runId, outcome); });
}

}  // namespace veltrad
