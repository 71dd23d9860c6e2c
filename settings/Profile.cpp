#include "settings/Profile.h"

#include "settings/NewFile.h"
#include "settings/NoCase.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace veltrad {

namespace {

// A settings file larger than this is not one we wrote or a person edited.
constexpr std::uintmax_t kMaxProfileSize = 1024 * 1024;

std::string_view Trim(std::string_view s)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Notepad starts a UTF-8 file with it; it belongs to no line.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The file's text, split into lines with their endings kept so that an
// untouched line is written back byte for byte.
struct IniText {
    std::string byteOrderMark;  // kept as found, written back in front
    std::vector<std::string> lines;
    std::string newline = "\n";
};

// Text holds no control byte but tab, CR and LF; anything else (NUL of a
// UTF-16 file, escape sequences, binary data) means this is no settings file.
bool IsText(std::string_view content)
{
    return std::none_of(content.begin(), content.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F;
    });
}

enum class LoadResult { Ok, Missing, NotText };

LoadResult Load(const std::filesystem::path& path, IniText& text)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return ec ? LoadResult::NotText : LoadResult::Missing;
    if (!std::filesystem::is_regular_file(path, ec))
        return LoadResult::NotText;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxProfileSize)
        return LoadResult::NotText;

    std::ifstream in(path, std::ios::binary);
    if (!in)
        return LoadResult::NotText;
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad() || !IsText(content))
        return LoadResult::NotText;
    if (content.starts_with(kUtf8ByteOrderMark)) {
        text.byteOrderMark = kUtf8ByteOrderMark;
        content.erase(0, kUtf8ByteOrderMark.size());
    }

    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t nl = content.find('\n', start);
        const std::size_t end = nl == std::string::npos ? content.size() : nl + 1;
        text.lines.emplace_back(content, start, end - start);
        start = end;
    }
    if (content.find("\r\n") != std::string::npos)
        text.newline = "\r\n";
    return LoadResult::Ok;
}

std::string_view Body(const std::string& line)
{
    std::string_view s(line);
    if (!s.empty() && s.back() == '\n')
        s.remove_suffix(1);
    if (!s.empty() && s.back() == '\r')
        s.remove_suffix(1);
    return s;
}

// "[name]" -> name; nullopt for any other line.
std::optional<std::string_view> SectionName(const std::string& line)
{
    std::string_view s = Trim(Body(line));
    if (s.empty() || s.front() != '[')
        return std::nullopt;
    const std::size_t close = s.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(s.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
    std::size_t valueStart;  // index in the line where the value text begins
};

std::optional<KeyLine> ParseKey(const std::string& line)
{
    const std::string_view body = Body(line);
    const std::string_view trimmed = Trim(body);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[')
        return std::nullopt;
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    std::size_t valueStart = eq + 1;
    while (valueStart < body.size() && (body[valueStart] == ' ' || body[valueStart] == '\t'))
        ++valueStart;  // keep the blanks a person put after '='
    return KeyLine{Trim(body.substr(0, eq)), Trim(body.substr(eq + 1)), valueStart};
}

struct Location {
    std::optional<std::size_t> sectionLine;
    std::optional<std::size_t> keyLine;
    std::size_t insertAt = 0;  // after the section's last non-blank line
};

// The key's first line in any section of that name: a file can have the
// section twice (edited by hand, or merged), and a key in the second one is
// read and rewritten there. A missing key goes at the end of the first one.
Location Find(const IniText& text, std::string_view section, std::string_view key)
{
    Location loc;
    bool inSection = false;
    bool inFirst = false;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        if (const auto name = SectionName(text.lines[i])) {
            inSection = EqualsNoCase(*name, section);
            inFirst = inSection && !loc.sectionLine;
            if (inFirst) {
                loc.sectionLine = i;
                loc.insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (inFirst && !Trim(Body(text.lines[i])).empty())
            loc.insertAt = i + 1;
        if (const auto kv = ParseKey(text.lines[i]); kv && !loc.keyLine && EqualsNoCase(kv->key, key))
            loc.keyLine = i;
    }
    return loc;
}

std::string Unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

// The signed decimal at the start of a value, as the platform's reader takes
// it: whatever follows is ignored, no digits read as 0; nullopt for an empty
// value, which reads as the default.
std::optional<int> ParseInt(std::string_view s)
{
    if (s.empty())
        return std::nullopt;
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint32_t magnitude = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            break;
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(c - '0');
    }
    if (negative)
        magnitude = 0u - magnitude;
    return static_cast<int>(magnitude);
}

// Where in `body` the number of an integer value lies, inside quotes when it
// has them: a rewrite replaces just that and keeps the quotes and a comment
// after it. The whole value when it holds no number.
std::pair<std::size_t, std::size_t> NumberSpan(std::string_view body, const KeyLine& kv)
{
    std::size_t begin = kv.valueStart;
    const std::size_t valueEnd = kv.valueStart + kv.value.size();
    if (begin < valueEnd && (body[begin] == '"' || body[begin] == '\''))
        ++begin;
    std::size_t end = begin;
    if (end < valueEnd && (body[end] == '-' || body[end] == '+'))
        ++end;
    const std::size_t digits = end;
    while (end < valueEnd && body[end] >= '0' && body[end] <= '9')
        ++end;
    if (end == digits)
        return {kv.valueStart, valueEnd};
    return {begin, end};
}

bool IsWritable(const std::filesystem::path& path, bool exists)
{
    if (!exists)
        return FolderTakesNewFiles(path.parent_path());
    // Honour the read-only bit ourselves: a privileged user would otherwise
    // write straight through a file the operator protected.
    std::error_code ec;
    const auto perms = std::filesystem::status(path, ec).permissions();
    return !ec && (perms & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
}

// Creates the missing folders of `folder` for the owner alone (0700), as the
// XDG base directory rules ask of folders a program makes for its settings.
bool CreateFolders(const std::filesystem::path& folder, std::error_code& ec)
{
    if (std::filesystem::is_directory(folder, ec))
        return true;
    if (folder.has_parent_path() && folder.parent_path() != folder && !CreateFolders(folder.parent_path(), ec))
        return false;
    if (!std::filesystem::create_directory(folder, ec))
        return !ec;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    return !ec;
}

bool Save(const std::filesystem::path& path, const IniText& text, bool exists)
{
    std::error_code ec;
    std::filesystem::path target = exists ? std::filesystem::canonical(path, ec) : path;
    if (ec)
        return false;
    if (!exists && !target.parent_path().empty() && !CreateFolders(target.parent_path(), ec))
        return false;
    if (!IsWritable(target, exists))
        return false;

    // Write a new sibling and rename it over the file: the settings are never
    // left half-written, whatever happens in between, and nothing found under
    // the sibling's name is ever written through.
    std::string content = text.byteOrderMark;
    for (const std::string& line : text.lines)
        content += line;
    const std::optional<std::filesystem::path> temp = WriteNewSibling(target, content, ec);
    if (!temp)
        return false;
    if (exists) {
        const auto perms = std::filesystem::status(target, ec).permissions();
        if (!ec)
            std::filesystem::permissions(*temp, perms, ec);
    }
    std::filesystem::rename(*temp, target, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(*temp, ignored);
        return false;
    }
    return true;
}

}  // namespace

CProfile::CProfile(std::filesystem::path file) : m_path(std::move(file)) {}

std::optional<std::string> CProfile::GetProfileString(std::string_view section, std::string_view key) const
{
    IniText text;
    if (Load(m_path, text) != LoadResult::Ok)
        return std::nullopt;
    const Location loc = Find(text, section, key);
    if (!loc.keyLine)
        return std::nullopt;
    return Unquote(ParseKey(text.lines[*loc.keyLine])->value);
}

int CProfile::GetProfileInt(std::string_view section, std::string_view key, int def) const
{
    const auto value = GetProfileString(section, key);
    return value ? ParseInt(*value).value_or(def) : def;
}

bool CProfile::WriteProfileInt(std::string_view section, std::string_view key, int value)
{
    return Write(section, key, std::to_string(value), true);
}

bool CProfile::WriteProfileString(std::string_view section, std::string_view key, std::string_view value)
{
    return Write(section, key, value, false);
}

bool CProfile::Write(std::string_view section, std::string_view key, std::string_view value, bool integer)
{
    if (m_path.empty())
        return false;  // no settings file: a new one would land in the working directory
    IniText text;
    const LoadResult loaded = Load(m_path, text);
    if (loaded == LoadResult::NotText)
        return false;  // never rewrite a file we cannot read as text

    const Location loc = Find(text, section, key);
    const std::string& nl = text.newline;
    if (loc.keyLine) {
        std::string& line = text.lines[*loc.keyLine];
        const KeyLine kv = *ParseKey(line);
        // A value that reads as what is to be written stays as it is, with
        // its quotes and comments, and the file is not touched at all.
        const std::string current = Unquote(kv.value);
        if (integer ? ParseInt(current) == ParseInt(value) : current == value)
            return true;
        const std::string_view body = Body(line);
        const auto [begin, end] = integer ? NumberSpan(body, kv) : std::pair{kv.valueStart, body.size()};
        const bool lastLine = line.size() == body.size();
        line = std::string(body.substr(0, begin)) + std::string(value) + std::string(line.substr(end));
        if (lastLine)
            line += nl;  // the key was on the last line, without an ending
    } else {
        const std::string entry = std::string(key) + "=" + std::string(value) + nl;
        if (loc.sectionLine) {
            const std::size_t at = loc.insertAt;
            if (at > 0 && !text.lines[at - 1].empty() && text.lines[at - 1].back() != '\n')
                text.lines[at - 1] += nl;
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
        } else {
            if (!text.lines.empty() && text.lines.back().back() != '\n')
                text.lines.back() += nl;
            text.lines.push_back("[" + std::string(section) + "]" + nl);
            text.lines.push_back(entry);
        }
    }
    return Save(m_path, text, loaded == LoadResult::Ok);
}

}  // namespace veltrad
