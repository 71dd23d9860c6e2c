#include "ui/RunEventBridge.h"

#include "ui/VeltradDlg.h"

#include <QMetaObject>

namespace veltrad {

CRunEventBridge::CRunEventBridge(CVeltradDlg& dialog) : m_dialog(dialog) {}

void CRunEventBridge::OnProgressStep(std::uint64_t runId) {
    Queue({Event::Kind::ProgressStep, runId});
}

void CRunEventBridge::OnProgressReset(std::uint64_t runId) {
    Queue({Event::Kind::ProgressReset, runId});
}

void CRunEventBridge::OnEnableControls(std::uint64_t runId, bool enable) {
    Event event{Event::Kind::EnableControls, runId};
    event.enable = enable;
    Queue(event);
}

void CRunEventBridge::OnNotice(std::uint64_t runId, Notice notice) {
    Event event{Event::Kind::ShowNotice, runId};
    event.notice = notice;
    Queue(event);
}

void CRunEventBridge::OnRunEnded(std::uint64_t runId, RunOutcome outcome, const RunStats&) {
    Event event{Event::Kind::RunEnded, runId};
    event.outcome = outcome;
    Queue(event);
}

void CRunEventBridge::Queue(const Event& event) {
    bool wasEmpty;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        wasEmpty = m_events.empty();
        m_events.push_back(event);
    }
    // One wake-up per batch: the GUI thread takes everything queued by then.
    // A wake-up still pending when this object goes is dropped with it.
    if (wasEmpty)
        QMetaObject::invokeMethod(this, "DeliverEvents", Qt::QueuedConnection);
}

std::optional<CRunEventBridge::Event> CRunEventBridge::Next() {
    const std::lock_guard<std::mutex> lock(m_lock);
    if (m_events.empty())
        return std::nullopt;
    Event event = m_events.front();
    m_events.pop_front();
    return event;
}

void CRunEventBridge::DeliverEvents() {
    // One at a time: a notice runs a modal loop, in which the events after
    // it are delivered in their order by a later wake-up or by this loop.
    while (const std::optional<Event> event = Next()) {
        switch (event->kind) {
        case Event::Kind::ProgressStep:
            m_dialog.OnRunProgressStep(event->runId);
            break;
        case Event::Kind::ProgressReset:
            m_dialog.OnRunProgressReset(event->runId);
            break;
        case Event::Kind::EnableControls:
            m_dialog.OnRunEnableControls(event->runId, event->enable);
            break;
        case Event::Kind::ShowNotice:
            m_dialog.OnRunNotice(event->runId, event->notice);
            break;
        case Event::Kind::RunEnded:
            m_dialog.OnRunEnded(event->runId, event->outcome);
            break;
        }
    }
}

}  // namespace veltrad
