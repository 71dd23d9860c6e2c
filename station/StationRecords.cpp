#include "station/StationRecords.h"

#include <cstdio>

namespace veltrad {

std::filesystem::path CStationRecords::FileFor(std::chrono::system_clock::time_point time) const
{
    using namespace std::chrono;
    const year_month_day date{floor<days>(time)};
    char name[40];
    std::snprintf(name, sizeof name, "records-%04d-%02u-%02u.tsv", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return m_folder / name;
}

bool CStationRecords::Append(const LogEntry& entry, const RecordFacts& facts, std::string& error)
{
    const std::filesystem::path path = FileFor(entry.time);
    if (!m_file || path != m_openPath) {
        m_file.reset();
        std::error_code ec;
        std::filesystem::create_directories(m_folder, ec);
        if (ec) {
            error = m_folder.string() + ": " + ec.message();
            return false;
        }
        m_file = CRunLog::Open(path, error, {kRecordSerialColumn, kRecordStationColumn, kRecordJobColumn});
        if (!m_file)
            return false;
        m_openPath = path;
    }
    return m_file->Append(entry, error, {facts.serialNumber, facts.station, facts.job});
}

}  // namespace veltrad
