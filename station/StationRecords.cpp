#include "station/StationRecords.h"

#include "base/Utf8Path.h"

#include <cstdio>
#include <random>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
namespace text = station_text;

std::string CauseText(RecordFault fault)
{
    switch (fault) {
    case RecordFault::InUse: return text::kCauseInUse;
    case RecordFault::DiskFull: return text::kCauseDiskFull;
    case RecordFault::NotAFile: return text::kCauseNotAFile;
    case RecordFault::DeviceName: return text::kCauseDeviceName;
    case RecordFault::Link: return text::kCauseLink;
    case RecordFault::Denied: return text::kCauseDenied;
    case RecordFault::NoFolder: return text::kCauseNoFolder;
    case RecordFault::None:
    case RecordFault::Other: break;
    }
    return text::kCauseOther;
}

// The cause, the file, and the system's words where the cause is theirs.
std::string ErrorDetail(const RecordError& error)
{
    std::string detail = CauseText(error.fault) + "\n" + Utf8FromPath(error.path);
    if (error.fault == RecordFault::Other && !error.system.empty())
        detail += "\n" + error.system;
    return detail;
}

}  // namespace

fs::path CStationRecords::FileFor(const fs::path& folder, std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const year_month_day date{floor<days>(time)};
    char name[40];
    std::snprintf(name, sizeof name, "records-%04d-%02u-%02u.tsv", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return folder / name;
}

RecordsNews CStationRecords::Append(const fs::path& folder, const LogEntry& entry, const RecordFacts& facts)
{
    static const std::string header = CRunLog::Header({kRecordSerialColumn, kRecordStationColumn, kRecordJobColumn});
    return News(m_writer.Add({FileFor(folder, entry.time), header,
                              CRunLog::FormatLine(entry, {facts.serialNumber, facts.station, facts.job})}));
}

RecordsNews CStationRecords::Flush() { return News(m_writer.Flush()); }

RecordsNews CStationRecords::News(const RecordStatus& status)
{
    RecordsNews news;
    for (const fs::path& file : status.restarted)
        news.messages.push_back({text::kRecordsRestarted, Utf8FromPath(file)});
    news.pending = static_cast<unsigned>(status.pending);
    if (status.pending == 0 || !status.error) {
        m_said = RecordFault::None;
        return news;
    }
    // A box when the cause is new; the counters say it every time.
    news.cause = CauseText(status.error->fault);
    if (status.error->fault != m_said) {
        news.messages.push_back({text::kRecordsPending, ErrorDetail(*status.error)});
        m_said = status.error->fault;
    }
    return news;
}

StationMessage KeptMessage(const KeptRecords& kept)
{
    if (kept.file)
        return {text::kRecordsKept, Utf8FromPath(*kept.file)};
    return {text::kRecordsLost, ErrorDetail(kept.error)};
}

std::optional<KeptRecords> CStationRecords::KeepPending(std::chrono::system_clock::time_point time,
                                                        const std::vector<fs::path>& folders)
{
    if (m_writer.Pending() > 0)
        m_writer.Flush();
    if (m_writer.Pending() == 0)
        return std::nullopt;
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<seconds>(time - day)};
    // Hard to guess, so that no one has put a file there for us to append to.
    const unsigned tag = std::random_device()();
    char name[64];
    std::snprintf(name, sizeof name, "records-pending-%04d%02u%02uT%02d%02d%02dZ-%08x.tsv",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), tag);
    std::vector<fs::path> files;
    for (const fs::path& folder : folders) {
        if (!folder.empty())
            files.push_back(folder / name);
    }
    KeptRecords kept;
    kept.lines = m_writer.Pending();
    kept.text = m_writer.PendingText();
    kept.file = m_writer.KeepIn(files, kept.error);
    if (kept.file)
        kept.text.clear();
    return kept;
}

}  // namespace veltrad
