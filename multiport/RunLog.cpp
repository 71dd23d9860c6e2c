#include "multiport/RunLog.h"

#include "multiport/Outcome.h"

#include "base/Utf8Path.h"

#include <cstdio>

namespace veltrad {

namespace {

constexpr char kHeader[] =
    "# time\tport\tdevice\tadapter\timage\tsize\tsha256\toutcome\tframes\tacknowledged\tresends\tseconds";

std::string Field(const std::string& value)
{
    if (value.empty())
        return "-";
    if (value.find_first_of("\t\n\r\"") == std::string::npos)
        return value;
    // Quoted the way spreadsheets read tab-separated text back; Windows
    // paths, with their backslashes, stay as they are.
    std::string out = "\"";
    for (const char c : value)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string IsoUtc(std::chrono::system_clock::time_point time)
{
    // The civil calendar of <chrono> is UTC and the same on every system.
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<seconds>(time - day)};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return buffer;
}

}  // namespace

std::string CRunLog::Header(const std::vector<std::string>& extraColumns)
{
    std::string header = kHeader;
    for (const std::string& column : extraColumns)
        header += '\t' + column;
    return header + '\n';
}

std::unique_ptr<CRunLog> CRunLog::Open(const std::filesystem::path& path, RecordError& error,
                                       const std::vector<std::string>& extraColumns)
{
    std::unique_ptr<CRunLog> log(new CRunLog(path, Header(extraColumns)));
    if (!log->m_writer.Prepare(path, log->m_header, error))
        return nullptr;
    return log;
}

std::string CRunLog::FormatLine(const LogEntry& e, const std::vector<std::string>& extra)
{
    const PortResult& r = e.result;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%u\t%u\t%u\t%.3f", static_cast<unsigned>(r.stats.frames),
                  static_cast<unsigned>(r.stats.acknowledged), static_cast<unsigned>(r.stats.resends), r.stats.seconds);
    const std::string size = e.image.size ? std::to_string(*e.image.size) : std::string();
    std::string line = IsoUtc(e.time) + '\t' + Field(r.port) + '\t' + Field(r.device) + '\t' + Field(e.adapterSerial) +
                       '\t' + Field(Utf8FromPath(e.image.path)) + '\t' + Field(size) + '\t' + Field(e.image.sha256) +
                       '\t' + Field(OutcomeName(r.outcome)) + '\t' + numbers;
    for (const std::string& value : extra)
        line += '\t' + Field(value);
    return line + '\n';
}

RecordStatus CRunLog::Append(const LogEntry& entry, const std::vector<std::string>& extra)
{
    return m_writer.Add({m_path, m_header, FormatLine(entry, extra)});
}

}  // namespace veltrad
