#pragma once
// Whole lines appended to a records file (the run log, the station's day
// files), one implementation per platform. A record is written whole or not
// at all, a file that is no regular file is never opened for writing, and
// nothing here can block for long: the caller may be a window's thread.
//
// - The file is opened by its path for each call, so a file deleted or moved
//   away is started again at its path (the caller sees a new identity).
// - Anything at the path but a regular file is refused before it is opened
//   for writing (a FIFO, a device, a folder; on Windows also a device's name
//   such as COM3 or NUL.txt); the opened file is checked again.
// - The last component may be a link only under LinkRule::FollowOwn, and
//   only a symbolic link that belongs to the user running us and points
//   straight at a regular file (POSIX). Windows follows no reparse point.
// - Every Veltrad program takes the same exclusive lock around its write, so
//   lines of programs that append at once never mix; the lock is waited for
//   kRecordLockWait at most, then the file counts as in use.
// - The lines go out in one write. A write the system cut short (a full
//   disk) is cut back, so the file ends where it ended before; a file whose
//   last line lacks its line break (torn by another program) gets one first.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrad {

inline constexpr std::chrono::milliseconds kRecordLockWait{250};

enum class RecordFault {
    None,
    NotAFile,    // a FIFO, device, socket or folder
    DeviceName,  // Windows: a name that opens a device (COM3, com3.log, NUL)
    Link,        // a link not to be followed
    InUse,       // held by another program (Windows' sharing, or our lock)
    DiskFull,    // no room for the lines (also a quota or a size limit)
    Denied,      // no permission, a read-only file or file system
    NoFolder,    // the folder it would be in does not exist
    Other,
};

struct RecordError {
    std::filesystem::path path;
    RecordFault fault = RecordFault::None;
    std::string system;  // the system's own words, where it had any

    // "<path>: in use by another program", in English for logs and the CLI.
    std::string Message() const;
};

enum class LinkRule { Refuse, FollowOwn };

// What a file is, whatever its name: a deleted, moved or replaced file has
// another identity than the one now at its path.
struct RecordFileId {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    friend bool operator==(const RecordFileId&, const RecordFileId&) = default;
};

struct RecordWritten {
    RecordFileId id;
    bool fresh = false;  // the file was new or empty: it got the header
};

// Appends `lines` (each ending in '\n'; may be empty) to the file at `path`,
// creating it; an empty file first gets `header` (one line, or empty). What
// was written to, or nullopt with `error` set and the file as it was.
std::optional<RecordWritten> AppendRecords(const std::filesystem::path& path, std::string_view header,
                                           std::string_view lines, LinkRule links, RecordError& error);

}  // namespace veltrad
