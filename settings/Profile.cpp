#include "settings/Profile.h"

#include "base/NoCase.h"
#include "settings/IniText.h"
#include "settings/NewFile.h"

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <vector>

namespace veltrad {

namespace {

// A settings file larger than this is not one we wrote or a person edited.
constexpr std::uintmax_t kMaxProfileSize = 1024 * 1024;

// Windows' profile functions read an ANSI file as well: a UTF-8 file without
// a byte order mark is taken byte for byte, whatever it holds.
constexpr IniLimits kProfileLimits{kMaxProfileSize, false};

// The file's lines as read, and the line ending new lines get.
struct Loaded {
    IniReadError error;
    IniText text;
    std::string newline = "\n";

    bool Exists() const { return error.problem != IniProblem::Missing; }
    bool Readable() const { return !error.Failed() || !Exists(); }
};

Loaded Load(const std::filesystem::path& path)
{
    Loaded loaded;
    loaded.error = ReadIniFile(path, kProfileLimits, loaded.text);
    if (std::any_of(loaded.text.lines.begin(), loaded.text.lines.end(),
                    [](const std::string& line) { return line.ends_with("\r\n"); }))
        loaded.newline = "\r\n";
    return loaded;
}

// "[name]" -> name; nullopt for any other line.
std::optional<std::string_view> SectionName(const std::string& line)
{
    const IniLine parsed = ParseIniLine(line);
    if (parsed.kind != IniLine::Kind::Section || !parsed.closed)
        return std::nullopt;
    return parsed.name;
}

std::optional<IniLine> ParseKey(const std::string& line)
{
    IniLine parsed = ParseIniLine(line);
    if (parsed.kind != IniLine::Kind::Key)
        return std::nullopt;
    return parsed;
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
        if (inFirst && ParseIniLine(text.lines[i]).kind != IniLine::Kind::Blank)
            loc.insertAt = i + 1;
        if (const auto kv = ParseKey(text.lines[i]); kv && !loc.keyLine && EqualsNoCase(kv->name, key))
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
std::pair<std::size_t, std::size_t> NumberSpan(std::string_view body, const IniLine& kv)
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
    // In the encoding it was read in: a UTF-16 file stays one.
    const std::optional<std::string> content = EncodeIniText(text);
    if (!content)
        return false;
    const std::optional<std::filesystem::path> temp = WriteNewSibling(target, *content, ec);
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

std::optional<IniReadError> CProfile::ReadProblem() const
{
    const Loaded loaded = Load(m_path);
    if (loaded.Readable())
        return std::nullopt;
    return loaded.error;
}

std::optional<std::string> CProfile::GetProfileString(std::string_view section, std::string_view key) const
{
    const Loaded loaded = Load(m_path);
    const Location loc = Find(loaded.text, section, key);
    if (!loc.keyLine)
        return std::nullopt;
    return Unquote(ParseKey(loaded.text.lines[*loc.keyLine])->value);
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
    Loaded loaded = Load(m_path);
    if (!loaded.Readable())
        return false;  // never rewrite a file we cannot read

    IniText& text = loaded.text;
    const Location loc = Find(text, section, key);
    const std::string& nl = loaded.newline;
    if (loc.keyLine) {
        std::string& line = text.lines[*loc.keyLine];
        const IniLine kv = *ParseKey(line);
        // A value that reads as what is to be written stays as it is, with
        // its quotes and comments, and the file is not touched at all.
        const std::string current = Unquote(kv.value);
        if (integer ? ParseInt(current) == ParseInt(value) : current == value)
            return true;
        const std::string_view body = IniLineBody(line);
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
    return Save(m_path, text, loaded.Exists());
}

}  // namespace veltrad
