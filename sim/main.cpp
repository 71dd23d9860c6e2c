// veltrad-sim: plays the KV-9090 in download mode so a PC, a cable and the
// download tool can be checked without a terminal.

#include "image/StandardStreams.h"
#include "sim/Simulator.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr long kMaxMs = 24L * 60 * 60 * 1000;  // the longest time an option takes: a day
constexpr long kMaxFrame = (1L << 25) - 1;     // the last frame of a 4 GiB image
constexpr long kMaxTimes = 1000;               // refusals of one frame; the downloader gives up at five

// A whole number from `least` to `most`, with a message that says which
// bound it missed; CLI11 would otherwise let a negative count through.
CLI::Validator Between(long least, long most, const std::string& unit)
{
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            long value = 0;
            std::size_t used = 0;
            try {
                value = std::stol(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size() || value < least || value > most)
                return text + " is not a whole number of " + unit + " from " + std::to_string(least) + " to " +
                       std::to_string(most);
            return {};
        },
        "");
}

// A symlink to the pty that goes away with the program.
class CLink {
public:
    bool Make(const fs::path& link, const std::string& target, std::string& error)
    {
        std::error_code ec;
        const auto status = fs::symlink_status(link, ec);
        if (fs::exists(status) && !fs::is_symlink(status)) {
            error = link.string() + ": exists and is not a symbolic link";
            return false;
        }
        fs::remove(link, ec);
        fs::create_symlink(target, link, ec);
        if (ec) {
            error = link.string() + ": " + ec.message();
            return false;
        }
        m_link = link;
        m_target = target;
        return true;
    }
    ~CLink()
    {
        std::error_code ec;
        if (!m_link.empty() && fs::read_symlink(m_link, ec) == m_target)
            fs::remove(m_link, ec);
    }

private:
    fs::path m_link;
    fs::path m_target;
};

}  // namespace

int main(int argc, char** argv)
{
    // Before anything is opened: the line may not take a standard stream's number.
    if (!veltrad::OpenStandardStreams())
        return 1;
    using namespace veltrad::sim;
    CLI::App app{"Plays the KV-9090 terminal in download mode on a pseudo-terminal or a serial device."};
    std::string device;
    std::string link;
    std::string out;
    SimOptions options;
    long refuseFrame = 0;
    long silentAfter = 0;
    long xoffBefore = 0;
    long doubleAck = 0;
    long delayMs = 0;
    long tickMs = 0;
    long xoffMs = 0;
    bool instantMode = false;
    bool paced = true;  // the default; the flag stays for scripts that ask for it
    long partialMs = options.partialFrameTimeout.count();
    options.refuseTimes = 1;

    // Counts are never negative, and times stay within a day: a longer one
    // would overflow the clock and wrap into no time at all.
    const auto frame = Between(0, kMaxFrame, "frames");
    const auto ms = Between(0, kMaxMs, "ms");
    app.add_option("--device", device, "Serial device to play on (default: a new pseudo-terminal)");
    app.add_option("--link", link, "Symbolic link to the pseudo-terminal, removed at exit");
    app.add_option("--out", out, "File that receives the image at the end of the run");
    auto* refuse = app.add_option("--refuse", refuseFrame, "Refuse frame N (0-based) ...")->check(frame);
    app.add_option("--times", options.refuseTimes, "... this many times (default 1)")
        ->needs(refuse)
        ->check(Between(1, kMaxTimes, "times"));
    app.add_flag("--garbage", options.garbage, "Answer every frame with a byte that is not ACK");
    auto* silent = app.add_option("--silent-after", silentAfter, "Answer no frame after frame K")->check(frame);
    app.add_option("--delay", delayMs, "Delay each reply by this many ms (at most a day)")->check(ms);
    app.add_option("--reply-delay-ms", tickMs,
                   "Release replies only on a fixed tick of this many ms, as a USB adapter's latency timer does")
        ->check(ms);
    auto* xoff =
        app.add_option("--xoff-before", xoffBefore, "Hold the line with XOFF before frame N ...")->check(frame);
    app.add_option("--xoff-ms", xoffMs, "... for this many ms")->needs(xoff)->check(ms);
    app.add_flag("--stray-in-hold", options.strayInHold, "Send a stray ACK halfway through the XOFF hold")->needs(xoff);
    auto* twice = app.add_option("--double-ack", doubleAck, "Answer frame N with two ACKs")->check(frame);
    auto* instant = app.add_flag("--instant", instantMode,
                                 "Answer at once, faster than any line: only for measuring a host's "
                                 "own turnaround; a download takes no reply that beats the line");
    app.add_flag("--pace", paced, "Answer at the pace of a 115200-baud line (the default)")->excludes(instant);
    app.add_option("--partial-ms", partialMs, "Drop a frame that stops arriving for this many ms")
        ->check(Between(1, kMaxMs, "ms"));
    CLI11_PARSE(app, argc, argv);

    options.pace = !instantMode;
    if (*refuse)
        options.refuseFrame = static_cast<std::size_t>(refuseFrame);
    if (*silent)
        options.silentAfter = static_cast<std::size_t>(silentAfter);
    if (*xoff)
        options.xoffBeforeFrame = static_cast<std::size_t>(xoffBefore);
    if (*twice)
        options.doubleAckFrame = static_cast<std::size_t>(doubleAck);
    options.replyDelay = std::chrono::milliseconds(delayMs);
    options.adapterTick = std::chrono::milliseconds(tickMs);
    options.xoffHold = std::chrono::milliseconds(xoffMs);
    options.partialFrameTimeout = std::chrono::milliseconds(partialMs);

    // Interrupts are taken by one thread, which stops the simulator.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string error;
    auto sim =
        device.empty() ? CSimulator::CreateOnPty(options, error) : CSimulator::OpenDevice(device, options, error);
    if (!sim) {
        std::cerr << "veltrad-sim: " << error << '\n';
        return 1;
    }
    CLink symlink;
    if (!link.empty() && !symlink.Make(link, sim->DevicePath(), error)) {
        std::cerr << "veltrad-sim: " << error << '\n';
        return 1;
    }
    std::cout << "veltrad-sim: terminal on " << sim->DevicePath() << std::endl;

    sim->Start();
    std::thread watcher([&sim, stopSignals] {
        int signal = 0;
        if (sigwait(&stopSignals, &signal) == 0)
            sim->Stop();
    });
    const bool ended = sim->WaitForEnd(std::chrono::hours(24 * 365));
    sim->Stop();
    pthread_kill(watcher.native_handle(), SIGTERM);  // ends its wait when no signal came
    watcher.join();
    if (!ended) {
        std::cout << "interrupted: " << sim->Summary() << std::endl;
        return 130;
    }
    if (!out.empty() && !sim->WriteImage(out, error)) {
        std::cerr << "veltrad-sim: " << error << '\n';
        std::cout << sim->Summary() << std::endl;
        return 1;
    }
    std::cout << sim->Summary() << std::endl;
    return 0;
}
