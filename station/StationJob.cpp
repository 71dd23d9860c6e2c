#include "station/StationJob.h"

#include "base/Errno.h"
#include "base/NoCase.h"
#include "serial/PortIdentity.h"
#include "settings/IniText.h"
#include "settings/NewFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

// A job is a few hundred bytes; anything far larger is some other file.
constexpr std::uintmax_t kMaxJobFileSize = 64 * 1024;

constexpr char kJobSection[] = "Job";
constexpr char kTileSection[] = "Tile";

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    return lower;
}

bool IsSha256(std::string_view text)
{
    return text.size() == kSha256HexDigits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f');
           });
}

std::optional<bool> Flag(std::string_view value)
{
    if (value == "1")
        return true;
    if (value == "0")
        return false;
    return std::nullopt;
}

// The tile number of "[Tile7]" (any case, no leading zero); 0 for anything else.
std::size_t TileNumber(std::string_view section)
{
    constexpr std::size_t prefix = sizeof kTileSection - 1;
    if (section.size() <= prefix || !EqualsNoCase(section.substr(0, prefix), kTileSection) || section[prefix] == '0' ||
        section.size() > prefix + 2)
        return 0;
    std::size_t number = 0;
    for (const char c : section.substr(prefix)) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return number;
}

// A path in the job as the file's folder has it.
fs::path Resolve(const fs::path& folder, std::string_view value)
{
    if (value.empty())
        return {};
    const fs::path path = PathFromUtf8(std::string(value));
    if (path.is_absolute())
        return path;
    fs::path resolved = (folder / path).lexically_normal();
    if (!resolved.has_filename() && resolved.has_relative_path())
        resolved = resolved.parent_path();  // "." and "sub/" name the folder itself
    return resolved;
}

// A path in the job file's folder (or below) relative to it, with '/' so
// that the file reads the same on Linux and Windows; any other as it is.
std::string PathText(const fs::path& path, const fs::path& folder)
{
    if (path.is_absolute()) {
        const fs::path relative = path.lexically_normal().lexically_relative(folder);
        if (!relative.empty() && *relative.begin() != "..") {
            const std::u8string text = relative.generic_u8string();
            return std::string(text.begin(), text.end());
        }
    }
    return Utf8FromPath(path);
}

fs::path FolderOf(const fs::path& file)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(file, ec);
    return (ec ? file : absolute).lexically_normal().parent_path();
}

class CJobParser {
public:
    CJobParser(const CPortMap& ports, fs::path folder) : m_ports(ports), m_folder(std::move(folder)) {}

    // False with `error` filled but for the file's name.
    bool Line(std::size_t number, const std::string& text, JobFileError& error)
    {
        m_line = number;
        const IniLine line = ParseIniLine(text);
        switch (line.kind) {
        case IniLine::Kind::Blank:
        case IniLine::Kind::Comment: return true;
        case IniLine::Kind::Other: return Fail(error, JobProblem::NotKeyValue);
        case IniLine::Kind::Section: return Section(line, error);
        case IniLine::Kind::Key: break;
        }
        if (m_section.empty())
            return Fail(error, JobProblem::KeyOutsideSection, line.name);
        const auto [first, added] = m_keys.try_emplace(m_section + "]" + Lower(line.name), number);
        if (!added)
            return Fail(error, JobProblem::KeyTwice, line.name, m_section, first->second);
        return m_tile == 0 ? JobKey(line, error) : TileKey(line, error);
    }

    bool Finish(StationJob& job, JobFileError& error)
    {
        m_line = 0;
        if (!m_sawJob)
            return Fail(error, JobProblem::NoJobSection);
        for (std::size_t i = 0; i < m_job.tiles.size(); ++i) {
            if (m_job.tiles[i].port.empty()) {
                const std::string tile = kTileSection + std::to_string(i + 1);
                const auto section = m_sections.find(Lower(tile));
                m_line = section == m_sections.end() ? 0 : section->second;
                return Fail(error, JobProblem::TileWithoutPort, tile);
            }
        }
        if (!m_job.image.empty() && m_job.sha256.empty())
            return Fail(error, JobProblem::ImageWithoutSha256);
        job = std::move(m_job);
        return true;
    }

private:
    bool Fail(JobFileError& error, JobProblem problem, std::string_view name = {}, std::string_view other = {},
              std::size_t firstLine = 0)
    {
        error.problem = problem;
        error.line = m_line;
        error.name = name;
        error.other = other;
        error.firstLine = firstLine;
        return false;
    }

    bool Section(const IniLine& line, JobFileError& error)
    {
        if (!line.closed)
            return Fail(error, JobProblem::SectionUnclosed, line.name);
        if (!line.rest.empty() && line.rest.front() != ';' && line.rest.front() != '#')
            return Fail(error, JobProblem::TextAfterSection, line.name);
        const bool job = EqualsNoCase(line.name, kJobSection);
        const std::size_t tile = job ? 0 : TileNumber(line.name);
        if (!job && (tile == 0 || tile > kMaxTiles))
            return Fail(error, JobProblem::UnknownSection, line.name);
        const auto [first, added] = m_sections.try_emplace(Lower(line.name), m_line);
        if (!added)
            return Fail(error, JobProblem::SectionTwice, line.name, {}, first->second);
        m_section = std::string(line.name);
        m_tile = tile;
        m_sawJob = m_sawJob || job;
        if (m_job.tiles.size() < tile)
            m_job.tiles.resize(tile);
        return true;
    }

    bool JobKey(const IniLine& line, JobFileError& error)
    {
        const std::string_view key = line.name;
        const std::string_view value = line.value;
        if (EqualsNoCase(key, "Name")) {
            m_job.name = value;
        } else if (EqualsNoCase(key, "Image")) {
            m_job.image = Resolve(m_folder, value);
        } else if (EqualsNoCase(key, "SHA-256")) {
            if (!value.empty() && !IsSha256(value))
                return Fail(error, JobProblem::BadSha256, key);
            m_job.sha256 = Lower(value);  // as PowerShell prints it, too
        } else if (EqualsNoCase(key, "Serial numbers") || EqualsNoCase(key, "Sounds")) {
            const auto flag = Flag(value);
            if (!flag)
                return Fail(error, JobProblem::BadFlag, key);
            (EqualsNoCase(key, "Sounds") ? m_job.sounds : m_job.serialNumbers) = *flag;
        } else if (EqualsNoCase(key, "Records")) {
            m_job.records = Resolve(m_folder, value);
        } else {
            return Fail(error, JobProblem::UnknownKey, key, m_section);
        }
        return true;
    }

    bool TileKey(const IniLine& line, JobFileError& error)
    {
        JobTile& tile = m_job.tiles[m_tile - 1];
        const std::string value(line.value);
        std::string identity;
        if (EqualsNoCase(line.name, "Port")) {
            const std::optional<PortTarget> target = ResolvePort(value, m_ports);
            if (!value.empty() && !target)
                return Fail(error, JobProblem::NoSuchPort, value);
            tile.port = value;
            identity = target ? "port " + target->identity : std::string();
        } else if (EqualsNoCase(line.name, "Location")) {
            tile.location = value;
            identity = value.empty() ? std::string() : "location " + value;
        } else {
            return Fail(error, JobProblem::UnknownKey, line.name, m_section);
        }
        if (identity.empty())
            return true;
        const auto [first, added] = m_terminals.try_emplace(identity, Named{value, m_line});
        if (!added)
            return Fail(error, JobProblem::PortTwice, value, first->second.name, first->second.line);
        return true;
    }

    struct Named {
        std::string name;
        std::size_t line;
    };

    const CPortMap& m_ports;
    const fs::path m_folder;
    StationJob m_job;
    std::string m_section;  // as written; empty before the first
    std::size_t m_tile = 0;
    std::size_t m_line = 0;
    bool m_sawJob = false;
    std::map<std::string, std::size_t> m_sections;  // lower-case name -> its line
    std::map<std::string, std::size_t> m_keys;      // "section]key", lower case -> its line
    std::map<std::string, Named> m_terminals;       // a port's identity or a location -> where first named
};

JobProblem ProblemOf(IniProblem problem)
{
    switch (problem) {
    case IniProblem::TooLarge: return JobProblem::TooLarge;
    case IniProblem::NotText: return JobProblem::NotText;
    case IniProblem::BadEncoding: return JobProblem::BadEncoding;
    case IniProblem::None:
    case IniProblem::Missing:
    case IniProblem::Unreadable: break;
    }
    return JobProblem::Unreadable;
}

}  // namespace

std::optional<StationJob> ReadJobFile(const fs::path& path, const CPortMap& ports, JobFileError& error)
{
    error = {};
    error.file = path;
    IniText text;
    if (const IniReadError read = ReadIniFile(path, {kMaxJobFileSize, true}, text); read.Failed()) {
        error.problem = ProblemOf(read.problem);
        error.line = read.line;
        error.systemError = read.systemError;
        return std::nullopt;
    }
    CJobParser parser(ports, FolderOf(path));
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        if (!parser.Line(i + 1, text.lines[i], error))
            return std::nullopt;
    }
    StationJob job;
    if (!parser.Finish(job, error))
        return std::nullopt;
    return job;
}

bool WriteJobFile(const fs::path& path, const StationJob& job, JobFileError& error)
{
    error = {};
    error.file = path;
    error.problem = JobProblem::Unwritable;
    const fs::path folder = FolderOf(path);
    std::string text = "[Job]\n";
    text += "Name=" + job.name + "\n";
    text += "Image=" + PathText(job.image, folder) + "\n";
    text += "SHA-256=" + job.sha256 + "\n";
    text += std::string("Serial numbers=") + (job.serialNumbers ? "1" : "0") + "\n";
    text += std::string("Sounds=") + (job.sounds ? "1" : "0") + "\n";
    text += "Records=" + PathText(job.records, folder) + "\n";
    for (std::size_t i = 0; i < job.tiles.size(); ++i) {
        text += "\n[Tile" + std::to_string(i + 1) + "]\nPort=" + job.tiles[i].port + "\n";
        if (!job.tiles[i].location.empty())
            text += "Location=" + job.tiles[i].location + "\n";
    }
    std::error_code ec;
    const auto written = WriteNewSibling(path, text, ec);
    if (!written) {
        error.systemError = ErrnoOf(ec);
        return false;
    }
    fs::rename(*written, path, ec);
    if (ec) {
        error.systemError = ErrnoOf(ec);
        fs::remove(*written, ec);
        return false;
    }
    return true;
}

}  // namespace veltrad
