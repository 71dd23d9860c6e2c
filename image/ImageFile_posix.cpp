#include "image/ImageFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace veltrad {

namespace {

bool OsError(ImageError& error, const std::filesystem::path& path, int errnum)
{
    error = ImageError{path, std::generic_category().message(errnum), errnum};
    return false;
}

// Why a file of this type cannot be an image; empty for a regular file.
const char* NotRegularReason(mode_t mode)
{
    if (S_ISREG(mode))
        return "";
    if (S_ISDIR(mode))
        return "is a folder, not a file";
    if (S_ISFIFO(mode))
        return "is a pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "is a device, not a regular file";
    if (S_ISSOCK(mode))
        return "is a socket, not a regular file";
    return "is not a regular file";
}

bool NotRegular(ImageError& error, const std::filesystem::path& path, mode_t mode)
{
    error = ImageError{path, NotRegularReason(mode), S_ISDIR(mode) ? EISDIR : 0};
    return false;
}

}  // namespace

CImageFile::~CImageFile() { Close(); }

void CImageFile::Close() noexcept
{
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));  // read-only: nothing is lost when close fails
    m_handle = -1;
}

bool CImageFile::Open(const std::filesystem::path& path, ImageError& error)
{
    Close();
    m_path = path;
    // Look first: opening a device can act on it (a serial port raises its
    // modem lines), and a pipe would be opened for nothing.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return OsError(error, path, errno);
    if (!S_ISREG(st.st_mode))
        return NotRegular(error, path, st.st_mode);

    // Non-blocking, so a pipe put in the file's place meanwhile cannot hold
    // the open; the check on the descriptor then refuses it.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return OsError(error, path, errno);
    m_handle = fd;
    if (::fstat(fd, &st) != 0) {
        const int errnum = errno;
        Close();
        return OsError(error, path, errnum);
    }
    if (!S_ISREG(st.st_mode)) {
        Close();
        return NotRegular(error, path, st.st_mode);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int errnum = errno;
        Close();
        return OsError(error, path, errnum);
    }
    m_size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::ptrdiff_t CImageFile::Read(std::uint8_t* buffer, std::size_t count, ImageError& error)
{
    const ssize_t n = ::read(static_cast<int>(m_handle), buffer, count);
    if (n < 0 && errno == EINTR)
        return kReadInterrupted;
    if (n < 0) {
        OsError(error, m_path, errno);
        return -1;
    }
    return n;
}

}  // namespace veltrad
