#pragma once
// The runs' events on their way from the workers to a front end's thread:
// queued under a short lock, with one wake-up per batch, so that no worker
// ever waits for the front end. The window and the station each give their
// runs one.

#include "download/PortRun.h"

#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace veltrad {

class CRunEventQueue final : public IRunListener {
public:
    // `wake` is called on a worker's thread when an event lands in an empty
    // queue: it must have Next called on the front end's thread soon, and
    // return at once.
    explicit CRunEventQueue(std::function<void()> wake) : m_wake(std::move(wake)) {}

    void OnRunEvent(const RunEvent& event) override;
    // The oldest event not yet taken; on the front end's thread.
    std::optional<RunEvent> Next();

private:
    const std::function<void()> m_wake;
    std::mutex m_lock;
    std::deque<RunEvent> m_events;  // guarded by m_lock
};

}  // namespace veltrad
