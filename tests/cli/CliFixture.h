#pragma once
// What the process tests of veltrad-cli share: a folder of their own for the
// image and the settings, the download command line, one call that runs a
// program to its end, and the reading of its JSON.

#include "ChildProcess.h"
#include "download/RunSupport.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace veltrad::test {

// One port's result as --json writes it; port and device only in an array.
struct RunJson {
    std::string port;
    std::string device;
    std::string outcome;
    unsigned frames = 0;
    unsigned acknowledged = 0;
    unsigned resends = 0;
    bool heldByXoff = false;
    bool portGone = false;
    std::optional<double> replyMsMedian;  // null without replies
    std::optional<double> replyMsP95;
};

// The objects of `text`, all of it, each with the port's names or none without.
inline std::optional<std::vector<RunJson>> ParseRunObjects(const std::string& text, bool named)
{
    static const std::regex kObject(
        R"re(\{(?:"port":"([^"\\]*)","device":"([^"\\]*)",)?"outcome":"([a-z-]+)","frames":(\d+),"acknowledged":(\d+),)re"
        R"re("resends":(\d+),"seconds":[0-9.]+,"held_by_xoff":(true|false),"port_gone":(true|false),)re"
        R"re("reply_ms_median":(null|[0-9.]+),"reply_ms_p95":(null|[0-9.]+)\})re");
    const auto number = [](const std::string& n) {
        return n == "null" ? std::nullopt : std::optional<double>(std::stod(n));
    };
    std::vector<RunJson> objects;
    std::string rebuilt;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kObject); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        if (m[1].matched != named)
            return std::nullopt;
        rebuilt += (rebuilt.empty() ? "" : ",") + m.str();
        objects.push_back({m[1], m[2], m[3], static_cast<unsigned>(std::stoul(m[4])),
                           static_cast<unsigned>(std::stoul(m[5])), static_cast<unsigned>(std::stoul(m[6])),
                           m[7] == "true", m[8] == "true", number(m[9]), number(m[10])});
    }
    if (rebuilt != text)
        return std::nullopt;
    return objects;
}

// The whole of stdout must be exactly one JSON object on one line.
inline std::optional<RunJson> ParseJson(const std::string& out)
{
    if (out.empty() || out.back() != '\n')
        return std::nullopt;
    const auto objects = ParseRunObjects(out.substr(0, out.size() - 1), false);
    if (!objects || objects->size() != 1)
        return std::nullopt;
    return objects->front();
}

// The whole of stdout must be one JSON array of port objects on one line.
inline std::optional<std::vector<RunJson>> ParseArray(const std::string& out)
{
    if (out.size() < 3 || out.front() != '[' || out.substr(out.size() - 2) != "]\n")
        return std::nullopt;
    return ParseRunObjects(out.substr(1, out.size() - 3), true);
}

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
