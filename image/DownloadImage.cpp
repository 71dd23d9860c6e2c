#include "image/DownloadImage.h"

#include "base/Utf8Path.h"

#include "image/ImageFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>

namespace veltrad {

namespace {

// Bytes read between two looks at the stop check: small enough that a stop
// ends even a slow read at once, large enough to cost nothing. Held on the
// stack, so a pass leaves the heap as the lists alone shape it.
constexpr std::size_t kChunkSize = 128 * kBlockSize;
using Chunk = std::array<std::uint8_t, kChunkSize>;

bool Fail(ImageError* error, ImageError why)
{
    if (error != nullptr)
        *error = std::move(why);
    return false;
}

bool Fail(ImageError* error, const std::filesystem::path& path, std::string reason, int errnum)
{
    return Fail(error, ImageError{path, std::move(reason), errnum});
}

bool FailTooLarge(ImageError* error, const std::filesystem::path& path)
{
    return Fail(error, path,
                "is larger than 4 GiB (" + std::to_string(kMaxImageFileSize) +
                    " Byte, the most that 32-bit frame addresses reach)",
                EFBIG);
}

bool FailOutOfMemory(ImageError* error, const std::filesystem::path& path, std::uint64_t size)
{
    return Fail(error, path, "not enough memory for the frames of a file of " + std::to_string(size) + " Byte", ENOMEM);
}

bool FailStopped(ImageError* error, const std::filesystem::path& path)
{
    return Fail(error, ImageError{path, "reading stopped", 0, true});
}

bool AnyNonZero(const std::uint8_t* bytes, std::size_t count)
{
    // Compared with zeros by memcmp, which goes word by word: the zeros in
    // front of the data of a large, mostly empty file cost next to nothing.
    static const Chunk kZeros{};
    for (std::size_t at = 0; at < count; at += kChunkSize) {
        const std::size_t n = std::min(kChunkSize, count - at);
        if (std::memcmp(bytes + at, kZeros.data(), n) != 0)
            return true;
    }
    return false;
}

// Fills `buffer` as far as the file goes: fewer bytes only at the end of the
// file, when a read fails (`failed` set) or when a signal interrupted one
// and `stopRequested` says stop (`stopped` set).
std::size_t ReadChunk(CImageFile& file, Chunk& buffer, ImageError& readError, bool& failed, bool& stopped,
                      const std::function<bool()>& stopRequested)
{
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const std::ptrdiff_t n = file.Read(buffer.data() + filled, buffer.size() - filled, readError);
        if (n == CImageFile::kReadInterrupted) {
            stopped = stopRequested && stopRequested();
            if (stopped)
                break;
            continue;
        }
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    return filled;
}

}  // namespace

std::string ImageError::Message() const { return Utf8FromPath(path) + ": " + reason; }

void CDownloadImage::EmptyLists()
{
    // Release the memory too: a 64 MiB image holds over 200 MiB of nodes.
    FrameList().swap(m_FrameList);
    BlockList().swap(m_BlockList);
}

void CDownloadImage::SetStopCheck(std::function<bool()> stopRequested) { m_stopRequested = std::move(stopRequested); }

void CDownloadImage::SetReadSink(ReadSink sink) { m_readSink = std::move(sink); }

bool CDownloadImage::ReadBlocks(const std::filesystem::path& path, ImageError* error)
{
    EmptyLists();

    if (path.empty())
        return Fail(error, path, "no file chosen", 0);

    CImageFile file;
    ImageError openError;
    if (!file.Open(path, openError))
        return Fail(error, std::move(openError));
    // Frame addresses are 32-bit file offsets: a longer file would wrap them
    // and send blocks to the wrong place in the terminal. Refused unread.
    if (file.Size() > kMaxImageFileSize)
        return FailTooLarge(error, path);

    try {
        return ReadOpenFile(file, path, error);
    } catch (const std::bad_alloc&) {
        EmptyLists();
        return FailOutOfMemory(error, path, file.Size());
    }
}

bool CDownloadImage::ReadOpenFile(CImageFile& file, const std::filesystem::path& path, ImageError* error)
{
    std::uint64_t fileSize = 0;
    std::uint64_t offset = 0;
    bool found = false;
    Chunk chunk;
    for (;;) {
        if (StopRequested()) {
            EmptyLists();
            return FailStopped(error, path);
        }
        ImageError readError;
        bool failed = false;
        bool stopped = false;
        std::size_t got = ReadChunk(file, chunk, readError, failed, stopped, m_stopRequested);
        if (stopped) {
            EmptyLists();
            return FailStopped(error, path);
        }
        const bool lastChunk = got < chunk.size();
        if (m_readSink && got > 0)
            m_readSink(chunk.data(), got);
        if (fileSize + got > kMaxImageFileSize) {
            // The file grew past the limit while it was being read.
            EmptyLists();
            return FailTooLarge(error, path);
        }
        if (!found && !AnyNonZero(chunk.data(), got)) {
            // Nothing to store before the first non-zero block.
            fileSize += got;
            offset += (got + kBlockSize - 1) / kBlockSize * kBlockSize;
            got = 0;
        }
        for (std::size_t at = 0; at < got; at += kBlockSize) {
            const std::size_t n = std::min(kBlockSize, got - at);
            const std::uint8_t* block = chunk.data() + at;
            fileSize += n;
            if (!found && AnyNonZero(block, n)) {
                found = true;
                m_dwFirstOffset = static_cast<std::uint32_t>(offset);
                // Room for every block from here to the end at once; zero
                // blocks before it take none.
                const std::uint64_t left = file.Size() > offset ? file.Size() - offset : 0;
                m_BlockList.reserve(static_cast<std::size_t>(left / kBlockSize + 1));
            }
            if (found) {
                CBlockPacket& packet = m_BlockList.emplace_back();
                std::copy_n(block, n, packet.m_byBlock.begin());
                std::fill(packet.m_byBlock.begin() + static_cast<std::ptrdiff_t>(n), packet.m_byBlock.end(), 0);
            }
            offset += kBlockSize;
        }
        if (failed) {
            // A failed read keeps the blocks stored so far and counts the bytes read.
            m_qwFileSize = fileSize;
            return Fail(error, std::move(readError));
        }
        if (lastChunk)
            break;
    }

    m_qwFileSize = fileSize;
    // The end of the last block read: up to 4 GiB, one past a 32-bit offset.
    std::uint64_t end = offset;
    for (auto it = m_BlockList.rbegin(); it != m_BlockList.rend(); ++it) {
        if (AnyNonZero(it->m_byBlock.data(), it->m_byBlock.size()))
            break;
        end -= kBlockSize;
    }
    m_qwEndOffset = end;
    return true;
}

bool CDownloadImage::InspectFile(ImageError* error)
{
    const bool ok = ReadBlocks(PathFromUtf8(m_strPathName), error);
    EmptyLists();
    if (ok)
        m_strFileSize = FormatFileSize(m_qwFileSize);
    return ok;
}

bool CDownloadImage::BuildFrames(ImageError* error)
{
    // The path the operator chose, full from a window's file dialog: a bare
    // name would depend on a current directory that a dialog may change.
    const std::filesystem::path path = PathFromUtf8(m_strPathName);
    if (!ReadBlocks(path, error))
        return false;

    try {
        FillFrames();
    } catch (const std::bad_alloc&) {
        EmptyLists();
        return FailOutOfMemory(error, path, m_qwFileSize);
    }
    // Also looked at once the frames are built, so that a stop that came
    // during the last chunk never lets a run begin.
    if (StopRequested()) {
        EmptyLists();
        return FailStopped(error, path);
    }
    m_strFileSize = FormatFileSize(m_qwFileSize);
    return true;
}

void CDownloadImage::FillFrames()
{
    if (m_BlockList.empty())
        return;
    const auto count = static_cast<std::size_t>((m_qwEndOffset - m_dwFirstOffset) / kBlockSize);
    m_FrameList.reserve(count);
    // Counted in 64 bits: the end of the block at 0xFFFFFF80 is 2^32.
    std::uint64_t address = m_dwFirstOffset;
    for (const CBlockPacket& block : m_BlockList) {
        if (address >= m_qwEndOffset)
            break;
        CPacket& frame = m_FrameList.emplace_back();
        FillFrame(frame.m_byFrame, static_cast<std::uint32_t>(address), block.m_byBlock);
        address += kBlockSize;
    }
}

void CDownloadImage::ResetFileInfo()
{
    EmptyLists();
    m_qwFileSize = 0;
    m_qwEndOffset = 0;
    m_dwFirstOffset = 0;
    m_strFileSize.clear();
    m_strFileName.clear();
    m_strPathName.clear();
}

void CDownloadImage::SetFile(const std::filesystem::path& path)
{
    // Kept as given: an absolute form made here could be longer than the
    // system opens (a working directory deeper than PATH_MAX).
    m_strPathName = Utf8FromPath(path);
    m_strFileName = Utf8FromPath(path.filename());
}

std::string CDownloadImage::FormatFileSize(std::uint64_t size) { return std::to_string(size) + " Byte"; }

}  // namespace veltrad
