#pragma once
// The station's records: one line per run in the run log's format (see
// multiport/RunLog.h) followed by the unit's serial number, the station's
// name and the job's name, appended to one file per day (UTC, as the lines'
// times): <folder>/records-2026-12-08.tsv. The folder is made when missing.

#include "multiport/RunLog.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace veltrad {

// The columns the station adds, in order.
inline constexpr char kRecordSerialColumn[] = "serial_number";
inline constexpr char kRecordStationColumn[] = "station";
inline constexpr char kRecordJobColumn[] = "job";

struct RecordFacts {
    std::string serialNumber;  // the unit's; empty when the job asks for none
    std::string station;       // the host name
    std::string job;
};

class CStationRecords {
public:
    explicit CStationRecords(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    const std::filesystem::path& Folder() const { return m_folder; }
    // The day's file for `time`.
    std::filesystem::path FileFor(std::chrono::system_clock::time_point time) const;

    // Appends the run's line to the day's file; false with `error` set when
    // the folder or the file cannot be written. Nothing is kept back: the
    // caller reports the error and the run's result stands.
    bool Append(const LogEntry& entry, const RecordFacts& facts, std::string& error);

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_openPath;
    std::unique_ptr<CRunLog> m_file;  // the day's file, kept open until the day changes
};

}  // namespace veltrad
