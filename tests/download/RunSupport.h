#pragma once
// Helpers for the tests that run downloads on a worker thread over a real
// pseudo-terminal: the simulated terminal on its pty, a clock that runs
// faster than real time, and images with a known non-zero span.

#include "download/Clock.h"
#include "common/WaitingListener.h"
#include "download/PortRun.h"
#include "image/Packet.h"
#include "sim/Simulator.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace veltrad::test {

// The simulated terminal on a fresh pty; `start` false leaves the line silent.
inline std::unique_ptr<sim::CSimulator> MakeSim(const sim::SimOptions& options, bool start = true)
{
    std::string error;
    auto sim = sim::CSimulator::CreateOnPty(options, error);
    if (!sim)
        throw std::runtime_error("simulator: " + error);
    if (start)
        sim->Start();
    return sim;
}

// Ticks `factor` times faster than the steady clock, so the 5000 ms reply
// timeout passes in 5000 / factor real milliseconds; the line's time, in
// microseconds, stays real.
class WarpClock final : public IClock {
public:
    explicit WarpClock(int factor) : m_factor(factor), m_start(std::chrono::steady_clock::now()) {}
    std::uint32_t TickCount() override
    {
        const auto real = std::chrono::steady_clock::now() - m_start;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * m_factor;
        return static_cast<std::uint32_t>(ms);
    }
    std::uint32_t MicroTickCount() override
    {
        const auto real = std::chrono::steady_clock::now() - m_start;
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(real).count());
    }

private:
    int m_factor;
    std::chrono::steady_clock::time_point m_start;
};

// A file image with `lead` zero blocks, `frames` blocks of data (the last one
// possibly short: `tail` bytes, 0 = full) and `trail` zero blocks after it.
struct TestImage {
    std::vector<std::uint8_t> file;
    std::vector<std::uint8_t> span;  // what the terminal must receive: the blocks sent, zero-filled
    std::uint32_t firstOffset = 0;
    std::uint32_t frames = 0;
};

inline TestImage MakeImage(std::mt19937& rng, std::uint32_t lead, std::uint32_t frames, std::uint32_t trail)
{
    TestImage image;
    std::uniform_int_distribution<int> byte(0, 255);
    image.firstOffset = lead * static_cast<std::uint32_t>(kBlockSize);
    image.frames = frames;
    image.file.assign(image.firstOffset, 0);
    for (std::uint32_t f = 0; f < frames; ++f) {
        std::vector<std::uint8_t> block(kBlockSize);
        for (auto& b : block)
            b = static_cast<std::uint8_t>(byte(rng));
        block.front() = static_cast<std::uint8_t>(f + 1);  // every block holds a non-zero byte
        block.back() |= 1;
        image.file.insert(image.file.end(), block.begin(), block.end());
    }
    image.span.assign(image.file.begin() + image.firstOffset, image.file.end());
    image.file.insert(image.file.end(), static_cast<std::size_t>(trail) * kBlockSize, 0);
    return image;
}

}  // namespace veltrad::test
