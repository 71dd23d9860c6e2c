#include "multiport/RecordWriter.h"

#include <algorithm>

namespace veltrad {

namespace fs = std::filesystem;

std::optional<RecordWritten> CRecordWriter::Append(const fs::path& file, const std::string& header,
                                                   const std::string& text, LinkRule links, RecordError& error) const
{
    if (m_makeFolders) {
        // A folder that cannot be made shows in the write's own error.
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
    }
    return AppendRecords(file, header, text, links, error);
}

bool CRecordWriter::Write(const RecordLine& line, RecordStatus& status, RecordError& error)
{
    const std::optional<RecordWritten> written = Append(line.file, line.header, line.text, m_links, error);
    if (!written)
        return false;
    const auto [known, added] = m_known.emplace(line.file, written->id);
    if (!added && (written->fresh || known->second != written->id)) {
        status.restarted.push_back(line.file);
        known->second = written->id;
    }
    return true;
}

bool CRecordWriter::Prepare(const fs::path& file, const std::string& header, RecordError& error)
{
    RecordStatus ignored;
    return Write({file, header, {}}, ignored, error);
}

RecordStatus CRecordWriter::Add(RecordLine line)
{
    m_pending.push_back(std::move(line));
    return Flush();
}

RecordStatus CRecordWriter::Flush()
{
    RecordStatus status;
    std::vector<fs::path> failed;
    std::deque<RecordLine> kept;
    for (RecordLine& line : m_pending) {
        RecordError error;
        if (std::find(failed.begin(), failed.end(), line.file) == failed.end()) {
            if (Write(line, status, error)) {
                ++status.written;
                continue;
            }
            failed.push_back(line.file);
            if (!status.error)
                status.error = error;
        }
        kept.push_back(std::move(line));
    }
    m_pending = std::move(kept);
    status.pending = m_pending.size();
    return status;
}

std::string CRecordWriter::PendingText() const
{
    std::string text;
    for (const RecordLine& line : m_pending)
        text += line.text;
    return text;
}

std::optional<fs::path> CRecordWriter::KeepIn(const std::vector<fs::path>& files, RecordError& error)
{
    if (m_pending.empty())
        return std::nullopt;
    const std::string text = PendingText();
    for (const fs::path& file : files) {
        if (Append(file, m_pending.front().header, text, LinkRule::Refuse, error)) {
            m_pending.clear();
            return file;
        }
    }
    return std::nullopt;
}

}  // namespace veltrad
