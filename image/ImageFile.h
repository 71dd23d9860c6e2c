#pragma once
// The image file as the reading pass sees it: opened read-only, and only when
// it is a regular file. A pipe, a device, a socket or a folder is refused
// before it is opened, and again on the opened handle, so nothing swapped in
// between is read; the open never waits for a pipe's writer. One
// implementation per platform, chosen by the build.

#include "image/ImageError.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace veltrad {

class CImageFile {
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // False with `error` filled when the file cannot be opened or is not a
    // regular file; nothing has been read then.
    bool Open(const std::filesystem::path& path, ImageError& error);

    // The file's length when it was opened.
    std::uint64_t Size() const { return m_size; }

    // Reads up to `count` bytes: the count read, 0 at the end of the file,
    // -1 with `error` filled (path included) when the read failed,
    // kReadInterrupted when a signal came first and nothing was read: the
    // caller looks at its stop and reads again (a stalled network or FUSE
    // file may block until a signal).
    static constexpr std::ptrdiff_t kReadInterrupted = -2;
    std::ptrdiff_t Read(std::uint8_t* buffer, std::size_t count, ImageError& error);

private:
    void Close() noexcept;

    std::filesystem::path m_path;
    std::intptr_t m_handle = -1;  // descriptor or handle; -1 when none
    std::uint64_t m_size = 0;
};

}  // namespace veltrad
