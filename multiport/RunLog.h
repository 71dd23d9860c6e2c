#pragma once
// The run log behind `--log FILE`: one line per port and run, appended, for
// tracing which terminal got which image. Tab-separated fields:
//   time (UTC, ISO 8601)  port  device  adapter serial  image path  image size
//   image SHA-256  outcome  frames  acknowledged  resends  seconds
// "-" stands for what is not known; a field holding a tab, a line break or a
// double quote is put in double quotes, its own doubled. A new file starts
// with a "#" header line. A front end may name fields of its own, which
// follow these on every line and in the header.

#include "multiport/PortResult.h"
#include "multiport/RecordWriter.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

// What every line of one run says about the image.
struct ImageFacts {
    std::filesystem::path path;  // absolute
    std::optional<std::uint64_t> size;
    std::string sha256;  // lower-case hex; empty when unknown
};

struct LogEntry {
    std::chrono::system_clock::time_point time;
    const PortResult& result;
    std::string adapterSerial;  // empty when unknown
    const ImageFacts& image;
};

// The log of one program run: its lines go to one file by CRecordWriter
// (whole, kept while they cannot be written). The last component of the
// path may be a symbolic link of the user's own (LinkRule::FollowOwn).
class CRunLog {
public:
    // Checks that `path` takes the log's lines now (a regular file, or a new
    // one it starts with the header), before any port is opened; null with
    // `error` set when not. `extraColumns` end the header of a new file.
    static std::unique_ptr<CRunLog> Open(const std::filesystem::path& path, RecordError& error,
                                         const std::vector<std::string>& extraColumns = {});

    // Writes the entry's line after any line kept before it; `extra` fields
    // follow the log's own.
    RecordStatus Append(const LogEntry& entry, const std::vector<std::string>& extra = {});
    // Tries the kept lines again.
    RecordStatus Flush() { return m_writer.Flush(); }
    std::size_t Pending() const { return m_writer.Pending(); }
    std::string PendingText() const { return m_writer.PendingText(); }

    // The "#" line that starts a new file, `extraColumns` at its end.
    static std::string Header(const std::vector<std::string>& extraColumns = {});
    static std::string FormatLine(const LogEntry& entry, const std::vector<std::string>& extra = {});

private:
    CRunLog(std::filesystem::path path, std::string header)
        : m_path(std::move(path)), m_header(std::move(header)), m_writer(LinkRule::FollowOwn)
    {
    }
    std::filesystem::path m_path;
    std::string m_header;
    CRecordWriter m_writer;
};

}  // namespace veltrad
