#pragma once
// The station's records: one line per run in the run log's format (see
// multiport/RunLog.h) followed by the unit's serial number, the station's
// name and the job's name, appended to one file per day (UTC, as the lines'
// times): <folder>/records-2026-12-08.tsv. The folder is made when missing.
//
// No record is lost while the station runs: a line that cannot be written
// (the file held by another program, a full disk, no regular file at the
// day's name, a link planted there) is kept and written, in order, at the
// next run or the next Flush (the views' timer); the window's thread never
// waits on the file (multiport/RecordFile.h). The operator is told: a box
// when a cause first shows (or changes), the count of kept lines with their
// cause each time (StationCounters, shown beside 기록 폴더 열기), a box when the
// day's file was deleted or moved and started again. At the end, kept lines go to a file of their own.

#include "multiport/RecordWriter.h"
#include "multiport/RunLog.h"
#include "station/StationView.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

// Lines that still could not be written at the end, and where they went.
struct KeptRecords {
    std::size_t lines = 0;
    std::optional<std::filesystem::path> file;  // nullopt: nowhere would take them
    RecordError error;                          // then why
    std::string text;                           // then the lines themselves
};
// The station's last words about them.
StationMessage KeptMessage(const KeptRecords& kept);

// What the operator is to be told after a write.
struct RecordsNews {
    std::vector<StationMessage> messages;  // boxes, in order
    unsigned pending = 0;                  // lines kept
    std::string cause;                     // why, in the window's words; empty when none are kept
};

class CStationRecords {
public:
    // The day's file in `folder` for `time`.
    static std::filesystem::path FileFor(const std::filesystem::path& folder,
                                         std::chrono::system_clock::time_point time);

    // Writes the run's line to the day's file in `folder`, after the lines
    // kept before it.
    RecordsNews Append(const std::filesystem::path& folder, const LogEntry& entry, const RecordFacts& facts);
    // Writes the kept lines now.
    RecordsNews Flush();
    std::size_t Pending() const { return m_writer.Pending(); }

    // At the end: the kept lines go to a new records-pending-<time>-<tag>.tsv
    // in the first of `folders` that takes them; nullopt when none were kept.
    std::optional<KeptRecords> KeepPending(std::chrono::system_clock::time_point time,
                                           const std::vector<std::filesystem::path>& folders);

private:
    RecordsNews News(const RecordStatus& status);

    CRecordWriter m_writer{LinkRule::Refuse, true};
    RecordFault m_said = RecordFault::None;  // the cause last told in a box
};

}  // namespace veltrad
