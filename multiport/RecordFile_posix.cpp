#include "multiport/RecordFile.h"

#include "serial/PosixIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

RecordFault FaultOf(int err)
{
    switch (err) {
    case ELOOP: return RecordFault::Link;
    case EISDIR:
    case ENXIO:  // a FIFO without a reader
    case ENODEV: return RecordFault::NotAFile;
    case EWOULDBLOCK:
    case ETXTBSY:
    case EBUSY: return RecordFault::InUse;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return RecordFault::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS: return RecordFault::Denied;
    case ENOENT:
    case ENOTDIR: return RecordFault::NoFolder;
    default: return RecordFault::Other;
    }
}

void Fail(RecordError& error, const fs::path& path, RecordFault fault, int err)
{
    error = {path, fault, err != 0 ? std::strerror(err) : std::string()};
}

void Fail(RecordError& error, const fs::path& path, int err) { Fail(error, path, FaultOf(err), err); }

// What to open for writing: `path` itself, or the target of a link that may
// be followed. Looks through O_PATH, which opens neither a FIFO nor a device.
std::optional<fs::path> WhatToOpen(const fs::path& path, LinkRule links, RecordError& error)
{
    const CUniqueFd at(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (at.Get() < 0) {
        if (errno == ENOENT)
            return path;  // new; a missing folder shows in the open
        Fail(error, path, errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(at.Get(), &st) != 0) {
        Fail(error, path, errno);
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode))
        return path;
    if (!S_ISLNK(st.st_mode)) {
        Fail(error, path, RecordFault::NotAFile, 0);
        return std::nullopt;
    }
    if (links != LinkRule::FollowOwn || st.st_uid != ::geteuid()) {
        Fail(error, path, RecordFault::Link, 0);
        return std::nullopt;
    }
    // The link held open cannot change under us: its own text, one step only.
    char text[PATH_MAX];
    const ssize_t n = ::readlinkat(at.Get(), "", text, sizeof text);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof text) {
        Fail(error, path, n < 0 ? errno : ENAMETOOLONG);
        return std::nullopt;
    }
    fs::path target(std::string(text, static_cast<std::size_t>(n)));
    if (target.is_relative())
        target = path.parent_path() / target;
    return WhatToOpen(target, LinkRule::Refuse, error);
}

// Waits for the lock kRecordLockWait at most; false with errno set.
bool Lock(int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + kRecordLockWait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

std::optional<RecordWritten> AppendRecords(const fs::path& path, std::string_view header, std::string_view lines,
                                           LinkRule links, RecordError& error)
{
    const std::optional<fs::path> where = WhatToOpen(path, links, error);
    if (!where) {
        error.path = path;  // the name given, also for its link's target
        return std::nullopt;
    }
    // Non-blocking, so that a FIFO put there since cannot hold us in the open.
    const CUniqueFd fd(
        ::open(where->c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
        Fail(error, path, errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        Fail(error, path, errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(error, path, RecordFault::NotAFile, 0);
        return std::nullopt;
    }
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0 || !Lock(fd.Get()) ||
        ::fstat(fd.Get(), &st) != 0) {
        Fail(error, path, errno);
        return std::nullopt;
    }
    const RecordFileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    const bool fresh = st.st_size == 0;
    if (lines.empty() && (!fresh || header.empty()))
        return RecordWritten{id, fresh};
    std::string out;
    if (fresh)
        out.append(header);
    char last = '\n';
    if (!fresh && ::pread(fd.Get(), &last, 1, st.st_size - 1) == 1 && last != '\n')
        out.push_back('\n');
    out.append(lines);
    ssize_t n = 0;
    do {
        n = ::write(fd.Get(), out.data(), out.size());
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(out.size()))
        return RecordWritten{id, fresh};
    const int err = n < 0 ? errno : ENOSPC;
    if (n > 0)
        (void)::ftruncate(fd.Get(), st.st_size);
    Fail(error, path, err);
    return std::nullopt;
}

}  // namespace veltrad
