#include "image/DownloadImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace veltrad {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(const std::filesystem::path& path)
{
#ifdef _WIN32
    return FilePtr(_wfopen(path.c_str(), L"rb"));
#else
    return FilePtr(std::fopen(path.c_str(), "rb"));
#endif
}

std::filesystem::path PathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

bool Fail(ImageError* error, const std::filesystem::path& path, std::string reason, int errnum)
{
    if (error != nullptr)
        *error = ImageError{path, std::move(reason), errnum};
    return false;
}

bool FailErrno(ImageError* error, const std::filesystem::path& path, int errnum)
{
    return Fail(error, path, std::generic_category().message(errnum), errnum);
}

bool AnyNonZero(const std::uint8_t* bytes, std::size_t count)
{
    return std::any_of(bytes, bytes + count, [](std::uint8_t b) { return b != 0; });
}

}  // namespace

std::string ImageError::Message() const
{
    return Utf8FromPath(path) + ": " + reason;
}

void CDownloadImage::EmptyLists()
{
    // Release the memory too: a 64 MiB image holds over 200 MiB of nodes.
    PacketList().swap(m_FrameList);
    PacketList().swap(m_BlockList);
}

bool CDownloadImage::ReadBlocks(const std::filesystem::path& path, ImageError* error)
{
    EmptyLists();

    if (path.empty())
        return Fail(error, path, "no file chosen", 0);

    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec)
        return FailErrno(error, path, ec.value());
    if (std::filesystem::is_directory(status))
        return Fail(error, path, "is a folder, not a file", EISDIR);

    FilePtr file = OpenForReading(path);
    if (!file)
        return FailErrno(error, path, errno);

    // Frame addresses are 32-bit file offsets: a longer file would wrap them
    // and send blocks to the wrong place in the terminal.
    std::uint64_t expected = 0;
    if (std::filesystem::is_regular_file(status)) {
        expected = std::filesystem::file_size(path, ec);
        if (!ec && expected > kMaxImageFileSize)
            return Fail(error, path, "is 4 GiB or larger; frame addresses cannot reach past 4 GiB", EFBIG);
        if (ec)
            expected = 0;
    }
    m_BlockList.reserve(static_cast<std::size_t>(expected / kBlockSize + 1));

    std::uint64_t fileSize = 0;
    std::uint64_t offset = 0;
    bool found = false;
    std::array<std::uint8_t, kBlockSize> buffer{};
    // A failed read keeps the blocks stored so far and counts the bytes read.
    auto readFailed = [&] {
        const int errnum = errno != 0 ? errno : EIO;
        m_dwFileSize = static_cast<std::uint32_t>(fileSize);
        return FailErrno(error, path, errnum);
    };

    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (n == 0) {
            if (std::ferror(file.get()) != 0) {
                return readFailed();
            }
            break;
        }
        fileSize += n;
        if (fileSize > kMaxImageFileSize) {
            // The file grew past the limit while it was being read.
            EmptyLists();
            return Fail(error, path, "is 4 GiB or larger; frame addresses cannot reach past 4 GiB", EFBIG);
        }
        if (!found && AnyNonZero(buffer.data(), n)) {
            found = true;
            m_dwFirstOffset = static_cast<std::uint32_t>(offset);
        }
        if (found) {
            CPacket& packet = m_BlockList.emplace_back();
            std::copy_n(buffer.begin(), n, packet.m_byBlock.begin());
            std::fill(packet.m_byBlock.begin() + static_cast<std::ptrdiff_t>(n), packet.m_byBlock.end(), 0);
        }
        offset += kBlockSize;
        if (n < kBlockSize) {
            // fread only returns short at the end of the file or on an error.
            if (std::ferror(file.get()) != 0) {
                return readFailed();
            }
            break;
        }
    }

    m_dwFileSize = static_cast<std::uint32_t>(fileSize);
    // The end of the last block read; 4 GiB exactly would wrap, and such a
    // file was refused above, so the offset always fits.
    std::uint64_t end = offset;
    for (auto it = m_BlockList.rbegin(); it != m_BlockList.rend(); ++it) {
        if (AnyNonZero(it->m_byBlock.data(), it->m_byBlock.size()))
            break;
        end -= kBlockSize;
    }
    m_dwEndOffset = static_cast<std::uint32_t>(end);
    return true;
}

bool CDownloadImage::InspectFile(ImageError* error)
{
    const bool ok = ReadBlocks(PathFromUtf8(m_strPathName), error);
    EmptyLists();
    if (ok)
        m_strFileSize = FormatFileSize(m_dwFileSize);
    return ok;
}

bool CDownloadImage::BuildFrames(ImageError* error)
{
    // Always the full path the operator chose: a bare name would depend on the
    // current directory and could pick up another file of the same name.
    if (!ReadBlocks(PathFromUtf8(m_strPathName), error))
        return false;

    if (!m_BlockList.empty()) {
        const std::size_t count = (m_dwEndOffset - m_dwFirstOffset) / kBlockSize;
        m_FrameList.reserve(count);
        std::uint32_t address = m_dwFirstOffset;
        for (const CPacket& block : m_BlockList) {
            if (address >= m_dwEndOffset)
                break;
            CPacket& frame = m_FrameList.emplace_back();
            FillFrame(frame.m_byFrame, address, block.m_byBlock);
            address += kBlockSize;
        }
    }
    m_strFileSize = FormatFileSize(m_dwFileSize);
    return true;
}

void CDownloadImage::ResetFileInfo()
{
    EmptyLists();
    m_dwFileSize = 0;
    m_dwEndOffset = 0;
    m_dwFirstOffset = 0;
    m_strFileSize.clear();
    m_strFileName.clear();
    m_strPathName.clear();
}

void CDownloadImage::SetFile(const std::filesystem::path& fullPath)
{
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(fullPath, ec);
    if (ec)
        absolute = fullPath;
    m_strPathName = Utf8FromPath(absolute);
    m_strFileName = Utf8FromPath(absolute.filename());
}

std::string CDownloadImage::FormatFileSize(std::uint32_t size)
{
    return std::to_string(size) + " Byte";
}

}  // namespace veltrad
