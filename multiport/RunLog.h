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

#include <chrono>
#include <cstdio>
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

class CRunLog {
public:
    // Opens `path` for appending, creating it; null with `error` set when it
    // cannot be opened. `extraColumns` end the header of a new file.
    static std::unique_ptr<CRunLog> Open(const std::filesystem::path& path, std::string& error,
                                         const std::vector<std::string>& extraColumns = {});
    ~CRunLog();
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;

    // Writes and flushes one line, `extra` fields after the log's own; false
    // with `error` set when the write fails.
    bool Append(const LogEntry& entry, std::string& error, const std::vector<std::string>& extra = {});

    static std::string FormatLine(const LogEntry& entry, const std::vector<std::string>& extra = {});

private:
    CRunLog(std::FILE* file, std::filesystem::path path) : m_file(file), m_path(std::move(path)) {}
    std::FILE* m_file;
    std::filesystem::path m_path;
};

}  // namespace veltrad
