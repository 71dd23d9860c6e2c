#include "settings/NewFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace veltrad {

namespace {

bool WriteAll(int fd, std::string_view content)
{
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return ::fsync(fd) == 0;
}

}  // namespace

bool FolderTakesNewFiles(const std::filesystem::path& folder)
{
    std::error_code ec;
    const auto perms = std::filesystem::status(folder, ec).permissions();
    // A missing folder is created on write.
    return ec || (perms & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
}

bool WriteNewFile(const std::filesystem::path& path, std::string_view content, std::error_code& ec)
{
    // O_EXCL fails on anything already there, a symbolic link included, and
    // never follows one; O_NOFOLLOW says so once more.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    bool ok = WriteAll(fd, content);
    int errnum = ok ? 0 : (errno != 0 ? errno : EIO);
    if (::close(fd) != 0 && ok) {
        ok = false;
        errnum = errno;
    }
    if (!ok) {
        ::unlink(path.c_str());  // ours: created above
        ec.assign(errnum, std::generic_category());
        return false;
    }
    ec.clear();
    return true;
}

}  // namespace veltrad
