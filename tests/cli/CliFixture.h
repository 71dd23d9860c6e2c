#pragma once
// What the process tests of veltrad-cli share: a folder of their own for the
// image and the settings, the download command line, and one call that runs
// a program to its end.

#include "ChildProcess.h"
#include "download/RunSupport.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace veltrad::test {

class CliFixture : public ::testing::Test {
protected:
    // An image of `frames` data blocks between zero blocks; m_image holds
    // what the terminal must receive.
    std::string WriteImage(std::uint32_t frames)
    {
        std::mt19937 rng(frames);
        m_image = MakeImage(rng, 2, frames, 1);
        return m_dir.Write("image.bin", m_image.file).string();
    }
    // Settings of the child: its own folder, never the user's.
    std::vector<std::string> Env() const { return {"XDG_CONFIG_HOME=" + m_dir.Path().string()}; }

    // veltrad-cli download OPTIONS --port P1 --port P2 ... FILE
    static std::vector<std::string> Download(const std::vector<std::string>& options,
                                             const std::vector<std::string>& ports, const std::string& file)
    {
        std::vector<std::string> args{VELTRAD_CLI, "download"};
        args.insert(args.end(), options.begin(), options.end());
        for (const std::string& port : ports) {
            args.push_back("--port");
            args.push_back(port);
        }
        args.push_back(file);
        return args;
    }

    // Runs `args` to its end; stderr and stdout go to the descriptors given.
    Finished Run(const std::vector<std::string>& args, int stderrFd = -1, int stdoutFd = -1) const
    {
        Child child(args, Env(), stderrFd, stdoutFd);
        return child.Wait();
    }

    // Runs `args` until `reached` says the run has got where the test wants
    // it, then sends `signal` (also when it never got there, so that nothing
    // hangs) and waits for the end.
    Finished RunAndSignal(const std::vector<std::string>& args, int signal, const std::function<bool()>& reached) const
    {
        Child child(args, Env());
        EXPECT_TRUE(reached()) << "the run did not get there";
        child.Signal(signal);
        return child.Wait();
    }

    void ExpectSpanDelivered(sim::CSimulator& terminal) const
    {
        EXPECT_TRUE(terminal.WaitForEnd(std::chrono::seconds(10))) << terminal.DevicePath();
        EXPECT_EQ(terminal.Image().baseAddress, m_image.firstOffset);
        EXPECT_EQ(terminal.Image().bytes, m_image.span) << terminal.DevicePath();
    }

    TempDir m_dir;
    TestImage m_image;
};

}  // namespace veltrad::test
