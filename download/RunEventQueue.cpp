#include "download/RunEventQueue.h"

namespace veltrad {

void CRunEventQueue::OnRunEvent(const RunEvent& event)
{
    bool wasEmpty;
    {
        const std::lock_guard lock(m_lock);
        wasEmpty = m_events.empty();
        m_events.push_back(event);
    }
    // One wake-up per batch: the front end takes everything queued by then.
    if (wasEmpty)
        m_wake();
}

std::optional<RunEvent> CRunEventQueue::Next()
{
    const std::lock_guard lock(m_lock);
    if (m_events.empty())
        return std::nullopt;
    RunEvent event = std::move(m_events.front());
    m_events.pop_front();
    return event;
}

}  // namespace veltrad
