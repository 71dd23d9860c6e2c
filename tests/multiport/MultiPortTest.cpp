#include "multiport/RunLog.h"
#include "multiport/SharedImage.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace veltrad {
namespace {

using test::TempDir;

// The digest is of the bytes the pass read and framed, across its chunks.
TEST(SharedImage, FramesOnceAndDigestsTheBytesItRead)
{
    TempDir dir;
    const struct {
        std::vector<std::uint8_t> file;
        const char* sha256;
        std::size_t frames;
    } cases[] = {
        {{'a', 'b', 'c'}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", 1},
        {std::vector<std::uint8_t>(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
         7813},
    };
    for (const auto& c : cases) {
        const auto path = dir.Write("image.bin", c.file);
        ImageError error;
        const SharedImage shared = ReadSharedImage(path, {}, true, error);
        ASSERT_TRUE(shared.image) << error.Message();
        EXPECT_EQ(shared.image->m_FrameList.size(), c.frames);
        EXPECT_EQ(shared.facts.path, path);
        EXPECT_EQ(shared.facts.size, c.file.size());
        EXPECT_EQ(shared.facts.sha256, c.sha256);
    }
    ImageError error;
    EXPECT_TRUE(ReadSharedImage(dir / "image.bin", {}, false, error).facts.sha256.empty()) << "no digest asked";
}

TEST(SharedImage, AStopOrAnUnreadableFileGivesNoImage)
{
    TempDir dir;
    const auto path = dir.Write("image.bin", std::vector<std::uint8_t>(4096, 1));
    const struct {
        std::filesystem::path file;
        bool stop;
    } cases[] = {{path, true}, {dir / "missing.bin", false}};
    for (const auto& c : cases) {
        ImageError error;
        const SharedImage shared = ReadSharedImage(
            c.file, [&] { return c.stop; }, true, error);
        EXPECT_FALSE(shared.image);
        EXPECT_EQ(error.stopped, c.stop);
        EXPECT_EQ(shared.facts.path, c.file) << "the log still names the file";
        EXPECT_FALSE(shared.facts.size.has_value());
    }
}

// Programs that open one new log at the same moment write its header once,
// as its first line.
TEST(RunLog, OpenedByManyAtOnceANewLogGetsOneHeader)
{
    constexpr int kRounds = 20;
    constexpr int kOpeners = 6;
    for (int round = 0; round < kRounds; ++round) {
        TempDir dir;
        const auto path = dir / "runs.tsv";
        const PortResult result = UnstartedResult("COM1", "", RunOutcome::PortOpenFailed, "why", 1);
        const ImageFacts image{"/image.bin", 1, ""};
        std::latch start(kOpeners);
        std::vector<std::thread> openers;
        for (int i = 0; i < kOpeners; ++i) {
            openers.emplace_back([&] {
                start.arrive_and_wait();
                std::string error;
                auto log = CRunLog::Open(path, error);
                ASSERT_TRUE(log) << error;
                ASSERT_TRUE(log->Append({std::chrono::system_clock::now(), result, "", image}, error)) << error;
            });
        }
        for (auto& t : openers)
            t.join();
        const std::string text = TempDir::ReadText(path);
        EXPECT_EQ(text.rfind("# time\t", 0), 0u) << "round " << round;
        EXPECT_EQ(text.find("\n#"), std::string::npos) << "round " << round;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + kOpeners);
    }
}

}  // namespace
}  // namespace veltrad
