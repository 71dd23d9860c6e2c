// veltrad-sim: plays the KV-9090 in download mode so a PC, a cable and the
// download tool can be checked without a terminal.

#include "sim/Simulator.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace {

namespace fs = std::filesystem;

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
    using namespace veltrad::sim;
    CLI::App app{"Plays the KV-9090 terminal in download mode on a pseudo-terminal or a serial device."};
    std::string device;
    std::string link;
    std::string out;
    SimOptions options;
    std::size_t refuseFrame = 0;
    std::size_t silentAfter = 0;
    std::size_t xoffBefore = 0;
    std::size_t doubleAck = 0;
    long delayMs = 0;
    long tickMs = 0;
    long xoffMs = 0;
    long partialMs = options.partialFrameTimeout.count();
    options.refuseTimes = 1;

    app.add_option("--device", device, "Serial device to play on (default: a new pseudo-terminal)");
    app.add_option("--link", link, "Symbolic link to the pseudo-terminal, removed at exit");
    app.add_option("--out", out, "File that receives the image at the end of the run");
    auto* refuse = app.add_option("--refuse", refuseFrame, "Refuse frame N (0-based) ...");
    app.add_option("--times", options.refuseTimes, "... this many times (default 1)")->needs(refuse);
    app.add_flag("--garbage", options.garbage, "Answer every frame with a byte that is not ACK");
    auto* silent = app.add_option("--silent-after", silentAfter, "Answer no frame after frame K");
    app.add_option("--delay", delayMs, "Delay each reply by this many ms")->check(CLI::NonNegativeNumber);
    app.add_option("--reply-delay-ms", tickMs,
                   "Release replies only on a fixed tick of this many ms, as a USB adapter's latency timer does")
        ->check(CLI::NonNegativeNumber);
    auto* xoff = app.add_option("--xoff-before", xoffBefore, "Hold the line with XOFF before frame N ...");
    app.add_option("--xoff-ms", xoffMs, "... for this many ms")->needs(xoff)->check(CLI::NonNegativeNumber);
    app.add_flag("--stray-in-hold", options.strayInHold, "Send a stray ACK halfway through the XOFF hold")->needs(xoff);
    auto* twice = app.add_option("--double-ack", doubleAck, "Answer frame N with two ACKs");
    app.add_flag("--pace", options.pace, "Answer at the pace of a 115200-baud line");
    app.add_option("--partial-ms", partialMs, "Drop a frame that stops arriving for this many ms")
        ->check(CLI::PositiveNumber);
    CLI11_PARSE(app, argc, argv);

    if (*refuse)
        options.refuseFrame = refuseFrame;
    if (*silent)
        options.silentAfter = silentAfter;
    if (*xoff)
        options.xoffBeforeFrame = xoffBefore;
    if (*twice)
        options.doubleAckFrame = doubleAck;
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
