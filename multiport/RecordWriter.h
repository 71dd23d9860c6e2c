#pragma once
// Records that are not lost while the program runs. Each line goes to its
// file through AppendRecords (whole or not at all); a line that cannot be
// written now is kept, in order, and written before any later line of the
// same file: with the next line, or when the caller asks again (a timer).
// What is still kept at the end can go to a file of its own (KeepIn).

#include "multiport/RecordFile.h"

#include <cstddef>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

struct RecordLine {
    std::filesystem::path file;
    std::string header;  // the file's first line when it is new
    std::string text;    // one line, ending in '\n'
};

struct RecordStatus {
    std::size_t written = 0;           // lines this call wrote
    std::size_t pending = 0;           // lines kept for later
    std::optional<RecordError> error;  // why the oldest kept line is kept
    // Files this writer had written that were deleted, moved, replaced or
    // emptied since: they were started again at their path.
    std::vector<std::filesystem::path> restarted;
};

class CRecordWriter {
public:
    // `makeFolders`: a file's missing folders are made before each write.
    explicit CRecordWriter(LinkRule links, bool makeFolders = false) : m_links(links), m_makeFolders(makeFolders) {}

    // Checks that `file` takes records now, starting a new one with `header`.
    bool Prepare(const std::filesystem::path& file, const std::string& header, RecordError& error);
    // Keeps `line` after every line kept before it, then writes what it can.
    RecordStatus Add(RecordLine line);
    // Writes the kept lines, oldest first; a file that fails keeps the rest
    // of its lines, other files go on.
    RecordStatus Flush();

    std::size_t Pending() const { return m_pending.size(); }
    // The kept lines, oldest first.
    std::string PendingText() const;
    // Writes every kept line, under the oldest one's header, to the first of
    // `files` that takes them (following no link there) and keeps none any more; that file, or nullopt with `error` of
    // the last one tried. Nothing kept: nullopt, `error` untouched.
    std::optional<std::filesystem::path> KeepIn(const std::vector<std::filesystem::path>& files, RecordError& error);

private:
    bool Write(const RecordLine& line, RecordStatus& status, RecordError& error);
    std::optional<RecordWritten> Append(const std::filesystem::path& file, const std::string& header,
                                        const std::string& text, LinkRule links, RecordError& error) const;

    LinkRule m_links;
    bool m_makeFolders;
    std::deque<RecordLine> m_pending;
    std::map<std::filesystem::path, RecordFileId> m_known;  // what each file was when last written
};

}  // namespace veltrad
