#pragma once
// The approved image read, framed and hashed off the window's thread, as
// every start needs it (a large image takes seconds): one worker per check,
// which keeps its result and wakes the window; it never waits for the
// window. The window takes the result, which joins the worker. Every call
// comes on the window's thread.

#include "download/PortRun.h"
#include "station/ApprovedImage.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace veltrad {

class CImageCheck final {
public:
    // `wake` is called on the worker's thread once its result is kept: it
    // must have Take called on the window's thread soon, and return at once.
    explicit CImageCheck(std::function<void()> wake) : m_wake(std::move(wake)) {}
    // Stops and joins.
    ~CImageCheck();
    CImageCheck(const CImageCheck&) = delete;
    CImageCheck& operator=(const CImageCheck&) = delete;

    // Checks `path` against `sha256` (ReadApprovedImage) on a worker that
    // `launcher` starts (empty: a plain std::thread), after stopping and
    // joining an earlier check. A worker that cannot start is a result at once.
    void Begin(const std::filesystem::path& path, const std::string& sha256, const ThreadLauncher& launcher);
    // Begun, not stopped, and its result not yet taken.
    bool Busy() const { return m_begun && !m_stop; }
    // The result once the worker has kept it (the worker joined); nullopt
    // while it reads, and for a check that was stopped.
    std::optional<ImageRead> Take();
    // Asks the read to end at its next chunk; its result is never taken.
    void Stop() { m_stop = true; }
    void StopAndJoin();

private:
    void Keep(ImageRead read);

    const std::function<void()> m_wake;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    bool m_begun = false;
    std::mutex m_lock;
    std::optional<ImageRead> m_result;  // guarded by m_lock
};

}  // namespace veltrad
