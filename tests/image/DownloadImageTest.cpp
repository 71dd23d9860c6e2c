#include "image/DownloadImage.h"

#include "FailingNew.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace veltrad {
namespace {


using Bytes = std::vector<std::uint8_t>;
using test::TempDir;

// n bytes of value v, as the examples write "n x v".
Bytes Fill(std::size_t n, std::uint8_t v) { return Bytes(n, v); }

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes FileWith(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes)
{
    Bytes file(size, 0);
    for (auto [at, value] : bytes)
        file[at] = value;
    return file;
}

Bytes FrameBytes(const CPacket& p) { return Bytes(p.m_byFrame.begin(), p.m_byFrame.end()); }

// ---- The reading pass -----------------------------------------------------

struct ReadCase {
    const char* name;
    Bytes file;
    std::uint32_t size;
    std::size_t blocks;
    std::uint32_t first;  // only checked when blocks > 0
    std::uint32_t end;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadBlocksTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadBlocksTest, FindsTheNonZeroSpan)
{
    const ReadCase& c = GetParam();
    TempDir dir;
    CDownloadImage image;
    ASSERT_TRUE(image.ReadBlocks(dir.Write("image.bin", c.file)));
    EXPECT_EQ(image.m_dwFileSize, c.size);
    EXPECT_EQ(image.m_BlockList.size(), c.blocks);
    EXPECT_TRUE(image.m_FrameList.empty());
    if (c.blocks > 0) {
        EXPECT_EQ(image.m_dwFirstOffset, c.first);
        EXPECT_EQ(image.m_dwEndOffset, c.end);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ReadBlocksTest,
    ::testing::Values(
        ReadCase{"Empty", {}, 0, 0, 0, 0},
        ReadCase{"ThousandZeros", Fill(1000, 0), 1000, 0, 0, 0},
        ReadCase{"OneByte", {0x5A}, 1, 1, 0, 128},
        ReadCase{"ZeroBlockThenData", Cat({Fill(128, 0), Fill(172, 0x33)}), 300, 2, 128, 384},
        ReadCase{"ShortZeroTail", Cat({Fill(128, 0), Fill(128, 0x11), Fill(44, 0)}), 300, 2, 128, 256},
        ReadCase{"OnlyLastByte", FileWith(300, {{299, 0x01}}), 300, 1, 256, 384},
        ReadCase{"ZeroBlocksInside", FileWith(1024, {{300, 0x01}, {700, 0x02}}), 1024, 6, 256, 768},
        ReadCase{"FFIsNonZero", FileWith(256, {{255, 0xFF}}), 256, 1, 128, 256},
        ReadCase{"ExactMultipleAllData", Fill(512, 0x42), 512, 4, 0, 512}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadBlocks, ShortLastBlockIsFilledWithZeros)
{
    TempDir dir;
    CDownloadImage image;
    ASSERT_TRUE(image.ReadBlocks(dir.Write("a.bin", Cat({Fill(128, 0), Fill(128, 0x11), Fill(44, 0x22)}))));
    ASSERT_EQ(image.m_BlockList.size(), 2u);
    const auto& last = image.m_BlockList[1].m_byBlock;
    EXPECT_EQ(Bytes(last.begin(), last.end()), Cat({Fill(44, 0x22), Fill(84, 0)}));
}

TEST(ReadBlocks, SecondFileLeavesNothingOfTheFirst)
{
    TempDir dir;
    CDownloadImage image;
    ASSERT_FALSE(image.BuildFrames());  // no file chosen yet
    image.SetFile(dir.Write("big.bin", Fill(1280, 0x77)));
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), 10u);
    ASSERT_TRUE(image.ReadBlocks(dir.Write("small.bin", {0x01})));
    EXPECT_EQ(image.m_BlockList.size(), 1u);
    EXPECT_TRUE(image.m_FrameList.empty());
    EXPECT_EQ(image.m_BlockList[0].m_byBlock[0], 0x01);
}

// ---- Frames, byte for byte --------------------------------------------------

struct FrameCase {
    const char* name;
    Bytes file;
    std::vector<Bytes> frames;  // expected, written out from the examples
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class BuildFramesTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(BuildFramesTest, MatchesByteForByte)
{
    const FrameCase& c = GetParam();
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("image.bin", c.file));
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), c.frames.size());
    for (std::size_t i = 0; i < c.frames.size(); ++i)
        EXPECT_EQ(FrameBytes(image.m_FrameList[i]), c.frames[i]) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BuildFramesTest,
    ::testing::Values(
        FrameCase{"OneByte", {0x5A},
                  {Cat({{0x02, 0x00, 0x00, 0x00, 0x00, 0x5A}, Fill(127, 0), {0x03, 0x5A}})}},
        FrameCase{"TwoFramesAt80And100",
                  Cat({Fill(128, 0), Fill(128, 0x11), Fill(44, 0x22)}),
                  {Cat({{0x02, 0x80, 0x00, 0x00, 0x00}, Fill(128, 0x11), {0x03, 0x80}}),
                   Cat({{0x02, 0x00, 0x01, 0x00, 0x00}, Fill(44, 0x22), Fill(84, 0), {0x03, 0x01}})}},
        FrameCase{"ZeroTailMakesNoFrame",
                  Cat({Fill(128, 0), Fill(128, 0x11), Fill(44, 0)}),
                  {Cat({{0x02, 0x80, 0x00, 0x00, 0x00}, Fill(128, 0x11), {0x03, 0x80}})}},
        FrameCase{"OnlyByte299",
                  FileWith(300, {{299, 0x01}}),
                  {Cat({{0x02, 0x00, 0x01, 0x00, 0x00}, Fill(43, 0), {0x01}, Fill(84, 0), {0x03, 0x00}})}},
        FrameCase{"ZeroBlocksInsideAreSent",
                  FileWith(1024, {{261, 0x07}, {767, 0x09}}),
                  {Cat({{0x02, 0x00, 0x01, 0x00, 0x00}, Fill(5, 0), {0x07}, Fill(122, 0), {0x03, 0x06}}),
                   Cat({{0x02, 0x80, 0x01, 0x00, 0x00}, Fill(128, 0), {0x03, 0x81}}),
                   Cat({{0x02, 0x00, 0x02, 0x00, 0x00}, Fill(128, 0), {0x03, 0x02}}),
                   Cat({{0x02, 0x80, 0x02, 0x00, 0x00}, Fill(127, 0), {0x09}, {0x03, 0x8B}})}},
        FrameCase{"Empty", {}, {}},
        FrameCase{"AllZeros", Fill(5000, 0), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildFrames, BlockAt0x43000)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("image.bin", Cat({Fill(0x43000, 0), Fill(128, 0xAA)})));
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), 1u);
    EXPECT_EQ(FrameBytes(image.m_FrameList[0]),
              Cat({{0x02, 0x00, 0x30, 0x04, 0x00}, Fill(128, 0xAA), {0x03, 0x34}}));
}

TEST(BuildFrames, AllNonZeroFileFramesEveryBlockInOrder)
{
    constexpr std::size_t k = 37;
    TempDir dir;
    Bytes file(128 * k);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i % 255 + 1);
    CDownloadImage image;
    image.SetFile(dir.Write("image.bin", file));
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), k);
    for (std::size_t i = 0; i < k; ++i) {
        const auto& f = image.m_FrameList[i].m_byFrame;
        EXPECT_EQ(FrameAddress(f), 128 * i);
        EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 133), Bytes(file.begin() + 128 * i, file.begin() + 128 * (i + 1)));
        std::uint8_t x = 0;
        for (std::size_t b = 1; b <= 132; ++b)
            x ^= f[b];
        EXPECT_EQ(f[134], x);
    }
}

TEST(BuildFrames, TwiceFromAnUnchangedFileGivesEqualFrames)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("image.bin", FileWith(4000, {{10, 1}, {2000, 2}, {3999, 3}})));
    ASSERT_TRUE(image.BuildFrames());
    const auto first = image.m_FrameList;
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(image.m_FrameList[i].m_byFrame, first[i].m_byFrame);
}

TEST(BuildFrames, ReadsTheFileAsItIsAtBuildTime)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("image.bin", Fill(128, 0x01)));
    ASSERT_TRUE(image.InspectFile());
    dir.Write("image.bin", Fill(256, 0x02));
    ASSERT_TRUE(image.BuildFrames());
    EXPECT_EQ(image.m_FrameList.size(), 2u);
    EXPECT_EQ(image.m_strFileSize, "256 Byte");
}

TEST(BuildFrames, UsesTheFullPathNotTheCurrentDirectory)
{
    TempDir chosen;
    TempDir other;
    const auto cwd = std::filesystem::current_path();
    other.Write("image.bin", Fill(128, 0xEE));  // same name, different content
    CDownloadImage image;
    image.SetFile(chosen.Write("image.bin", Fill(128, 0x11)));
    std::filesystem::current_path(other.Path());
    const bool built = image.BuildFrames();
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(built);
    ASSERT_EQ(image.m_FrameList.size(), 1u);
    EXPECT_EQ(image.m_FrameList[0].m_byFrame[5], 0x11);
}

// ---- Selection, reset and the size text -------------------------------------

TEST(InspectFile, SetsTheSizeTextAndKeepsNoNodes)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("firmware v2.bin", FileWith(300, {{200, 9}})));
    ASSERT_TRUE(image.InspectFile());
    EXPECT_EQ(image.m_strFileName, "firmware v2.bin");
    EXPECT_EQ(image.m_strFileSize, "300 Byte");
    EXPECT_EQ(image.m_dwFileSize, 300u);
    EXPECT_TRUE(image.m_BlockList.empty());
    EXPECT_TRUE(image.m_FrameList.empty());
}

TEST(FormatFileSize, PrintsTheFullUnsignedLength)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0 Byte"}, {1, "1 Byte"}, {300, "300 Byte"},
        {0x7FFFFFFFu, "2147483647 Byte"}, {0x80000000u, "2147483648 Byte"},
        {0xFFFFFFFFu, "4294967295 Byte"}};
    for (auto [size, text] : cases)
        EXPECT_EQ(CDownloadImage::FormatFileSize(size), text);
}

TEST(ResetFileInfo, ReturnsToNoFile)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("image.bin", Fill(300, 0x10)));
    ASSERT_TRUE(image.BuildFrames());
    image.ResetFileInfo();
    EXPECT_TRUE(image.m_BlockList.empty());
    EXPECT_TRUE(image.m_FrameList.empty());
    EXPECT_EQ(image.m_dwFileSize, 0u);
    EXPECT_EQ(image.m_dwFirstOffset, 0u);
    EXPECT_EQ(image.m_dwEndOffset, 0u);
    EXPECT_TRUE(image.m_strFileName.empty());
    EXPECT_TRUE(image.m_strPathName.empty());
    EXPECT_TRUE(image.m_strFileSize.empty());
}

// ---- Files that cannot be read ----------------------------------------------

TEST(UnreadableFile, ErrorNamesTheFileAndKeepsThePreviousState)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("good.bin", Fill(300, 0x10)));
    ASSERT_TRUE(image.InspectFile());

#ifndef _WIN32
    // Files that never end or never open: refused by their type, unread.
    const auto fifo = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto socketPath = dir / "socket.bin";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
    std::copy_n(socketPath.c_str(), socketPath.string().size(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);
#endif
    const struct {
        const char* name;
        std::filesystem::path path;
        const char* reason;
    } cases[] = {
        {"missing", dir / "missing.bin", "No such file"},
        {"folder", dir.Path(), "folder"},
        {"nothing chosen", {}, "no file chosen"},
#ifdef _WIN32
        {"device", "NUL", "not a regular file"},
#else
        {"FIFO", fifo, "pipe (FIFO), not a regular file"},
        {"endless device", "/dev/urandom", "device, not a regular file"},
        {"socket", socketPath, "socket, not a regular file"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        image.m_strPathName = c.path.string();
        ImageError error;
        EXPECT_FALSE(image.InspectFile(&error));
        EXPECT_EQ(error.path, c.path);
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;
        EXPECT_NE(error.Message().find(c.path.string()), std::string::npos);
        EXPECT_EQ(image.m_strFileSize, "300 Byte");
        EXPECT_EQ(image.m_dwFileSize, 300u);
        EXPECT_FALSE(image.BuildFrames(&error));
        EXPECT_TRUE(image.m_FrameList.empty());
        EXPECT_TRUE(image.m_BlockList.empty());
    }
}

TEST(UnreadableFile, FailedAllocationIsAnErrorNamingTheFileAndItsSize)
{
    TempDir dir;
    const auto path = dir.Write("image.bin", Fill(128 * 1024, 0x5A));
    // The first large allocation holds the blocks, the second the frames.
    for (const int failing : {1, 2}) {
        SCOPED_TRACE(failing == 1 ? "reading" : "building frames");
        CDownloadImage image;
        image.SetFile(path);
        ImageError error;
        bool built = true;
        {
            const test::FailLargeAllocations fail(failing);
            built = image.BuildFrames(&error);
        }
        EXPECT_FALSE(built);
        EXPECT_EQ(error.path, path);
        EXPECT_EQ(error.errnum, ENOMEM);
        EXPECT_NE(error.reason.find("memory"), std::string::npos) << error.reason;
        EXPECT_NE(error.reason.find("131072 Byte"), std::string::npos) << error.reason;
        EXPECT_TRUE(image.m_BlockList.empty());
        EXPECT_TRUE(image.m_FrameList.empty());
        EXPECT_TRUE(image.BuildFrames()) << "the next pass, with memory, works";
    }
}

TEST(UnreadableFile, StopCheckEndsThePassBetweenChunks)
{
    TempDir dir;
    // Several chunks of data, so a stop can come in the middle.
    const auto path = dir.Write("image.bin", Fill(1024 * 1024, 0x11));
    const struct {
        int stopOnCall;  // 0: never
        bool built;
    } cases[] = {{1, false}, {2, false}, {0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopOnCall);
        CDownloadImage image;
        image.SetFile(path);
        int calls = 0;
        image.SetStopCheck([&] { return ++calls == c.stopOnCall; });
        ImageError error;
        EXPECT_EQ(image.BuildFrames(&error), c.built);
        EXPECT_EQ(error.stopped, !c.built);
        EXPECT_EQ(image.m_FrameList.size(), c.built ? 8192u : 0u);
        if (!c.built) {
            EXPECT_EQ(calls, c.stopOnCall) << "no chunk read after the stop";
            EXPECT_EQ(error.path, path);
            EXPECT_TRUE(image.m_BlockList.empty());
        }
    }
}

TEST(UnreadableFile, NoPermission)
{
    TempDir dir;
    const auto path = dir.Write("locked.bin", Fill(10, 1));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    CDownloadImage image;
    image.SetFile(path);
    ImageError error;
    const bool ok = image.InspectFile(&error);
    if (ok)
        GTEST_SKIP() << "running with privileges that ignore file permissions";
    EXPECT_NE(error.reason.find("ermission"), std::string::npos) << error.reason;
}

TEST(UnreadableFile, FourGibibytesOrMoreIsRefusedBeforeAnyFrame)
{
    TempDir dir;
    const auto path = dir / "huge.bin";
    {
        std::ofstream out(path, std::ios::binary);
        out << '\x01';
    }
    // A sparse file costs no disk space.
    std::filesystem::resize_file(path, 0x100000000ull);
    CDownloadImage image;
    image.SetFile(path);
    ImageError error;
    EXPECT_FALSE(image.BuildFrames(&error));
    EXPECT_NE(error.reason.find("4 GiB"), std::string::npos) << error.reason;
    EXPECT_TRUE(image.m_FrameList.empty());
    EXPECT_TRUE(image.m_BlockList.empty());
}

}  // namespace
}  // namespace veltrad
