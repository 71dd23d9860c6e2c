#include "station/StationJob.h"

#include "settings/NewFile.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

// A job is a few hundred bytes; anything far larger is some other file.
constexpr std::uintmax_t kMaxJobFileSize = 64 * 1024;

constexpr char kJobSection[] = "Job";
constexpr char kTileSection[] = "Tile";

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsSha256(const std::string& text)
{
    return text.size() == kSha256HexDigits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::optional<bool> Flag(const std::string& value)
{
    if (value == "1")
        return true;
    if (value == "0")
        return false;
    return std::nullopt;
}

// The tile number of "[Tile7]"; 0 for anything else.
std::size_t TileNumber(const std::string& section)
{
    if (section.rfind(kTileSection, 0) != 0 || section.size() == sizeof kTileSection - 1 || section.size() > 6)
        return 0;
    std::size_t number = 0;
    for (std::size_t i = sizeof kTileSection - 1; i < section.size(); ++i) {
        if (section[i] < '0' || section[i] > '9')
            return 0;
        number = number * 10 + static_cast<std::size_t>(section[i] - '0');
    }
    return number;
}

class CJobParser {
public:
    // False with the reason in `why` (without the line number).
    bool Line(const std::string& raw, std::string& why)
    {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            return true;
        if (line.front() == '[') {
            if (line.back() != ']') {
                why = "a section name without its ']'";
                return false;
            }
            m_section = Trim(line.substr(1, line.size() - 2));
            if (m_section == kJobSection) {
                m_sawJob = true;
                return true;
            }
            m_tile = TileNumber(m_section);
            if (m_tile == 0 || m_tile > kMaxTiles) {
                why = "unknown section [" + m_section + "] (a job has [Job] and [Tile1] to [Tile16])";
                return false;
            }
            if (m_job.tiles.size() < m_tile)
                m_job.tiles.resize(m_tile);
            return true;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            why = "a line that is neither a section nor key=value";
            return false;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (m_section == kJobSection)
            return JobKey(key, value, why);
        if (m_tile != 0)
            return TileKey(key, value, why);
        why = "a key outside any section";
        return false;
    }

    bool Finish(StationJob& job, std::string& why)
    {
        if (!m_sawJob) {
            why = "no [Job] section: this is no station job";
            return false;
        }
        for (std::size_t i = 0; i < m_job.tiles.size(); ++i) {
            if (m_job.tiles[i].port.empty()) {
                why = "[Tile" + std::to_string(i + 1) + "] has no Port";
                return false;
            }
        }
        if (!m_job.image.empty() && m_job.sha256.empty()) {
            why = "the image has no SHA-256";
            return false;
        }
        job = std::move(m_job);
        return true;
    }

private:
    bool JobKey(const std::string& key, const std::string& value, std::string& why)
    {
        if (key == "Name") {
            m_job.name = value;
        } else if (key == "Image") {
            m_job.image = PathFromUtf8(value);
        } else if (key == "SHA-256") {
            if (!value.empty() && !IsSha256(value)) {
                why = "SHA-256 is not 64 lower-case hex digits";
                return false;
            }
            m_job.sha256 = value;
        } else if (key == "Serial numbers" || key == "Sounds") {
            const auto flag = Flag(value);
            if (!flag) {
                why = key + " is neither 0 nor 1";
                return false;
            }
            (key == "Sounds" ? m_job.sounds : m_job.serialNumbers) = *flag;
        } else if (key == "Records") {
            m_job.records = PathFromUtf8(value);
        } else {
            why = "unknown key " + key + " in [Job]";
            return false;
        }
        return true;
    }

    bool TileKey(const std::string& key, const std::string& value, std::string& why)
    {
        JobTile& tile = m_job.tiles[m_tile - 1];
        if (key == "Port")
            tile.port = value;
        else if (key == "Location")
            tile.location = value;
        else {
            why = "unknown key " + key + " in [" + m_section + "]";
            return false;
        }
        return true;
    }

    StationJob m_job;
    std::string m_section;
    std::size_t m_tile = 0;
    bool m_sawJob = false;
};

}  // namespace

std::optional<StationJob> ReadJobFile(const fs::path& path, std::string& error)
{
    const std::string where = Utf8FromPath(path) + ": ";
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = where + ec.message();
        return std::nullopt;
    }
    if (size > kMaxJobFileSize) {
        error = where + "too large for a job (" + std::to_string(size) + " bytes)";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    if (!file && !file.eof()) {
        error = where + "cannot be read";
        return std::nullopt;
    }
    if (text.find('\0') != std::string::npos) {
        error = where + "not a text file";
        return std::nullopt;
    }
    CJobParser parser;
    std::istringstream lines(text);
    std::string line;
    std::string why;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!parser.Line(line, why)) {
            error = where + "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        }
    }
    StationJob job;
    if (!parser.Finish(job, why)) {
        error = where + why;
        return std::nullopt;
    }
    return job;
}

bool WriteJobFile(const fs::path& path, const StationJob& job, std::string& error)
{
    std::string text = "[Job]\n";
    text += "Name=" + job.name + "\n";
    text += "Image=" + Utf8FromPath(job.image) + "\n";
    text += "SHA-256=" + job.sha256 + "\n";
    text += std::string("Serial numbers=") + (job.serialNumbers ? "1" : "0") + "\n";
    text += std::string("Sounds=") + (job.sounds ? "1" : "0") + "\n";
    text += "Records=" + Utf8FromPath(job.records) + "\n";
    for (std::size_t i = 0; i < job.tiles.size(); ++i) {
        text += "\n[Tile" + std::to_string(i + 1) + "]\nPort=" + job.tiles[i].port + "\n";
        if (!job.tiles[i].location.empty())
            text += "Location=" + job.tiles[i].location + "\n";
    }
    std::error_code ec;
    const auto written = WriteNewSibling(path, text, ec);
    if (!written) {
        error = Utf8FromPath(path) + ": " + ec.message();
        return false;
    }
    fs::rename(*written, path, ec);
    if (ec) {
        error = Utf8FromPath(path) + ": " + ec.message();
        fs::remove(*written, ec);
        return false;
    }
    return true;
}

}  // namespace veltrad
