#pragma once
// The simulator's line thread and what it shares with the code that opens
// its line (SimulatorOpen.cpp). Private to sim/.

#include "serial/PosixIo.h"
#include "sim/Simulator.h"
#include "sim/TerminalModel.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace veltrad::sim {

// A request from another thread: raw bytes to send, or a hold of the line.
struct Request {
    std::vector<std::uint8_t> raw;
    std::optional<std::chrono::milliseconds> hold;
};

// The line I/O: one thread reads the line into the model and writes the
// model's replies when they fall due, sleeping in ppoll on the line, an
// eventfd for requests and a timerfd for due times.
struct CSimulator::Impl {
    explicit Impl(const SimOptions& options) : pace(options.pace), model(options) {}

    const bool pace;  // spin through the last moments before each reply

    std::string devicePath;
    CUniqueFd line;       // pty master or the device
    CUniqueFd slaveHold;  // keeps the pty alive between the client's openings
    CUniqueFd wake;       // eventfd: commands and stop
    CUniqueFd timer;      // timerfd on CLOCK_MONOTONIC (the steady clock), armed at absolute times

    std::mutex control;  // Start/Stop
    std::thread thread;

    // Changed by the simulator thread only, and only under `mtx`; other
    // threads read it under `mtx`.
    mutable std::mutex mtx;
    std::condition_variable changed;
    CTerminalModel model;
    bool stopRequested = false;
    bool finished = false;         // the thread has left its loop
    std::deque<Request> requests;  // in the order they were made

    bool lineDead = false;  // the simulator thread's own

    void Signal()
    {
        const std::uint64_t one = 1;
        (void)RetryOnEintr([&] { return ::write(wake.Get(), &one, sizeof one); });
    }

    // Runs `change` on the model under the lock and wakes the waiters.
    template <typename F>
    void Change(F&& change)
    {
        {
            const std::lock_guard lock(mtx);
            change(model);
        }
        changed.notify_all();
    }

    void Run();
    bool TakeRequests(Clock::time_point now);
    bool ArmTimer(std::optional<Clock::time_point> at);
    bool MakeWakeUps(std::string& error);
    bool Flush(Clock::time_point now, bool all);
    void End();
};

// Takes what other threads asked for; false when asked to stop.

// "what: <the system's reason for errno>".
std::string Errno(const char* what);

}  // namespace veltrad::sim
