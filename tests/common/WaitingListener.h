#pragma once
// A run listener for tests on any platform: it records every event of the
// runs that report to it, under a lock, and the test thread waits on it.

#include "download/PortRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace veltrad::test {

class WaitingListener final : public IRunListener {
public:
    void OnRunEvent(const RunEvent& event) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_events.push_back(event);
        }
        m_changed.notify_all();
    }

    // Waits until `predicate` holds over the events so far.
    bool WaitFor(const std::function<bool(const std::vector<RunEvent>&)>& predicate,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return predicate(m_events); });
    }

    // The end of run `runId`, once it has come.
    std::optional<RunEvent> WaitForEnd(std::uint64_t runId,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        std::optional<RunEvent> end;
        WaitFor(
            [&](const std::vector<RunEvent>& events) {
                for (const RunEvent& e : events) {
                    if (e.runId == runId && e.kind == RunEvent::Kind::Ended)
                        end = e;
                }
                return end.has_value();
            },
            timeout);
        return end;
    }

    std::vector<RunEvent> Events(std::uint64_t runId)
    {
        const std::lock_guard lock(m_mutex);
        std::vector<RunEvent> out;
        for (const RunEvent& e : m_events) {
            if (e.runId == runId)
                out.push_back(e);
        }
        return out;
    }

    std::vector<RunEvent> All()
    {
        const std::lock_guard lock(m_mutex);
        return m_events;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<RunEvent> m_events;
};

// How many of `events` are of `kind`.
inline int Count(const std::vector<RunEvent>& events, RunEvent::Kind kind)
{
    return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.kind == kind; }));
}

}  // namespace veltrad::test
