#include "image/DownloadImage.h"

#include "FailingNew.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>

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

// ---- The non-zero span and its frames ---------------------------------------

struct SpanCase {
    const char* name;
    Bytes file;
    std::uint32_t first;  // span of whole blocks; no frames when empty
    std::uint32_t end;
};

// One frame per block of the span, in order, each carrying its address and
// its block of the file, zero-filled past the file's end.
TEST(BuildFrames, FramesTheNonZeroSpan)
{
    const SpanCase cases[] = {
        {"empty", {}, 0, 0},
        {"all zeros", Fill(1000, 0), 0, 0},
        {"one byte", {0x5A}, 0, 128},
        {"one block", Fill(128, 0x42), 0, 128},
        {"one block and a byte", Fill(129, 0x42), 0, 256},
        {"zeros at both ends", Cat({Fill(128, 0), Fill(128, 0x11), Fill(44, 0)}), 128, 256},
        {"only the last byte", FileWith(300, {{299, 0x01}}), 256, 384},
        {"zero blocks inside are sent", FileWith(1024, {{300, 0x01}, {700, 0x02}}), 256, 768},
        {"0xFF is not zero", FileWith(256, {{255, 0xFF}}), 128, 256},
    };
    for (const SpanCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CDownloadImage image;
        image.SetFile(dir.Write("image.bin", c.file));
        ASSERT_TRUE(image.BuildFrames());
        EXPECT_EQ(image.m_qwFileSize, c.file.size());
        const std::size_t frames = (c.end - c.first) / kBlockSize;
        ASSERT_EQ(image.m_FrameList.size(), frames);
        if (frames == 0)
            continue;
        EXPECT_EQ(image.m_dwFirstOffset, c.first);
        EXPECT_EQ(image.m_qwEndOffset, c.end);
        Bytes padded = c.file;
        padded.resize(c.end, 0);
        for (std::size_t i = 0; i < frames; ++i) {
            const auto& f = image.m_FrameList[i].m_byFrame;
            const std::size_t at = c.first + i * kBlockSize;
            EXPECT_EQ(FrameAddress(f), at);
            EXPECT_EQ(Bytes(f.begin() + kFrameDataOffset, f.begin() + kFrameEtxOffset),
                      Bytes(padded.begin() + at, padded.begin() + at + kBlockSize));
        }
    }
}

// The frame's own bytes, written out: header, address least significant
// first, zero fill, ETX and checksum.
TEST(BuildFrames, FramesByteForByte)
{
    const struct {
        Bytes file;
        Bytes frame;
    } cases[] = {
        {{0x5A}, Cat({{0x02, 0x00, 0x00, 0x00, 0x00, 0x5A}, Fill(127, 0), {0x03, 0x5A}})},
        {Cat({Fill(256, 0), Fill(44, 0x22)}),
         Cat({{0x02, 0x00, 0x01, 0x00, 0x00}, Fill(44, 0x22), Fill(84, 0), {0x03, 0x01}})},
        {Cat({Fill(0x43000, 0), Fill(128, 0xAA)}),
         Cat({{0x02, 0x00, 0x30, 0x04, 0x00}, Fill(128, 0xAA), {0x03, 0x34}})},
    };
    for (const auto& c : cases) {
        TempDir dir;
        CDownloadImage image;
        image.SetFile(dir.Write("image.bin", c.file));
        ASSERT_TRUE(image.BuildFrames());
        ASSERT_EQ(image.m_FrameList.size(), 1u);
        EXPECT_EQ(FrameBytes(image.m_FrameList[0]), c.frame);
    }
}

// Each pass starts from scratch and reads the file as it is then.
TEST(BuildFrames, EachPassReadsTheFileAgain)
{
    TempDir dir;
    CDownloadImage image;
    ASSERT_FALSE(image.BuildFrames());  // no file chosen yet
    image.SetFile(dir.Write("image.bin", Fill(1280, 0x01)));
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), 10u);
    dir.Write("image.bin", Fill(256, 0x02));
    ASSERT_TRUE(image.BuildFrames());
    ASSERT_EQ(image.m_FrameList.size(), 2u);
    EXPECT_EQ(image.m_FrameList[1].m_byFrame[kFrameDataOffset], 0x02);
    EXPECT_EQ(image.m_strFileSize, "256 Byte");
    ASSERT_TRUE(image.ReadBlocks(dir.Write("small.bin", {0x01})));
    EXPECT_EQ(image.m_BlockList.size(), 1u);
    EXPECT_TRUE(image.m_FrameList.empty());
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

#ifndef _WIN32
// A name relative to a working directory deeper than PATH_MAX opens as given,
// as `cat` opens it; only an absolute form of it would be too long.
TEST(BuildFrames, ARelativeNameOpensBelowAWorkingDirectoryDeeperThanPathMax)
{
    TempDir top;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(top.Path());
    const std::string level(200, 'd');
    std::size_t depth = 0;
    for (; depth * (level.size() + 1) <= PATH_MAX; ++depth)
        ASSERT_TRUE(::mkdir(level.c_str(), 0700) == 0 && ::chdir(level.c_str()) == 0);
    const Bytes data = Fill(128, 0x11);
    std::ofstream("image.bin", std::ios::binary).write(reinterpret_cast<const char*>(data.data()), 128);
    CDownloadImage image;
    image.SetFile("image.bin");
    ImageError error;
    const bool built = image.BuildFrames(&error);
    ::unlink("image.bin");
    for (; depth > 0; --depth)
        ASSERT_TRUE(::chdir("..") == 0 && ::rmdir(level.c_str()) == 0);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(built) << error.Message();
    EXPECT_EQ(image.m_FrameList.size(), 1u);
}

// The last block a 32-bit address reaches lies at 0xFFFFFF80, and its end,
// 2^32, is one past 32 bits. Sparse files on tmpfs, whose holes read at
// memory speed; the single data byte is the file's last.
TEST(BuildFrames, TheLastBlockBelow4GiBIsFramedAtItsAddress)
{
    const std::filesystem::path memory = "/dev/shm";
    if (!std::filesystem::is_directory(memory))
        GTEST_SKIP() << "no tmpfs at /dev/shm";
    const std::uint64_t sizes[] = {kMaxImageFileSize - 127, kMaxImageFileSize - 1, kMaxImageFileSize};
    for (const std::uint64_t size : sizes) {
        SCOPED_TRACE(size);
        const auto path = memory / ("veltrad-image-test-" + std::to_string(::getpid()) + ".bin");
        {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0);
            const std::uint8_t data = 0x5A;
            const bool written = ::pwrite(fd, &data, 1, static_cast<off_t>(size - 1)) == 1;
            ::close(fd);
            ASSERT_TRUE(written);
        }
        CDownloadImage image;
        image.SetFile(path);
        const bool built = image.BuildFrames();
        std::filesystem::remove(path);
        ASSERT_TRUE(built);
        EXPECT_EQ(image.m_strFileSize, std::to_string(size) + " Byte");
        EXPECT_EQ(image.m_dwFirstOffset, 0xFFFFFF80u);
        EXPECT_EQ(image.m_qwEndOffset, kMaxImageFileSize);
        ASSERT_EQ(image.m_FrameList.size(), 1u);
        const auto& frame = image.m_FrameList[0].m_byFrame;
        EXPECT_EQ(FrameAddress(frame), 0xFFFFFF80u);
        const std::size_t at = static_cast<std::size_t>((size - 1) % kBlockSize);
        EXPECT_EQ(frame[kFrameDataOffset + at], 0x5A);
        EXPECT_EQ(std::count(frame.begin() + kFrameDataOffset, frame.begin() + kFrameEtxOffset, 0), 127);
    }
}
#endif

// ---- Selection, reset and the size text -------------------------------------

TEST(FormatFileSize, PrintsTheFullUnsignedLength)
{
    const std::pair<std::uint64_t, const char*> cases[] = {{0, "0 Byte"},
                                                           {1, "1 Byte"},
                                                           {300, "300 Byte"},
                                                           {0x7FFFFFFFu, "2147483647 Byte"},
                                                           {0x80000000u, "2147483648 Byte"},
                                                           {0xFFFFFFFFu, "4294967295 Byte"},
                                                           {kMaxImageFileSize, "4294967296 Byte"}};
    for (auto [size, text] : cases)
        EXPECT_EQ(CDownloadImage::FormatFileSize(size), text);
}

// Choosing a file reads its size only; resetting returns to no file.
TEST(InspectFile, SetsTheSizeTextAndKeepsNoNodes)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("firmware v2.bin", FileWith(300, {{200, 9}})));
    ASSERT_TRUE(image.InspectFile());
    EXPECT_EQ(image.m_strFileName, "firmware v2.bin");
    EXPECT_EQ(image.m_strFileSize, "300 Byte");
    EXPECT_EQ(image.m_qwFileSize, 300u);
    EXPECT_TRUE(image.m_BlockList.empty() && image.m_FrameList.empty());
    ASSERT_TRUE(image.BuildFrames());
    image.ResetFileInfo();
    EXPECT_TRUE(image.m_BlockList.empty() && image.m_FrameList.empty());
    EXPECT_EQ(image.m_qwFileSize + image.m_dwFirstOffset + image.m_qwEndOffset, 0u);
    EXPECT_EQ(image.m_strFileName + image.m_strPathName + image.m_strFileSize, "");
}

// ---- Files that cannot be read ----------------------------------------------

TEST(UnreadableFile, ErrorNamesTheFileAndKeepsThePreviousState)
{
    TempDir dir;
    CDownloadImage image;
    image.SetFile(dir.Write("good.bin", Fill(300, 0x10)));
    ASSERT_TRUE(image.InspectFile());
    // Frame addresses cannot reach past 4 GiB; a sparse file costs no disk
    // space, and it is refused before a byte is read.
    const auto huge = dir.Write("huge.bin", {0x01});
    std::filesystem::resize_file(huge, kMaxImageFileSize + 1);

#ifndef _WIN32
    // Files that never end or never open: refused by their type, unread.
    const auto fifo = dir / "pipe.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif
    const struct {
        const char* name;
        std::filesystem::path path;
        const char* reason;
    } cases[] = {
        {"missing", dir / "missing.bin", "No such file"}, {"folder", dir.Path(), "folder"},
        {"nothing chosen", {}, "no file chosen"},         {"4 GiB + 1", huge, "larger than 4 GiB"},
#ifdef _WIN32
        {"device", "NUL", "not a regular file"},
#else
        {"FIFO", fifo, "pipe (FIFO), not a regular file"},
        {"endless device", "/dev/urandom", "device, not a regular file"},
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
        EXPECT_EQ(image.m_qwFileSize, 300u);
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

}  // namespace
}  // namespace veltrad
