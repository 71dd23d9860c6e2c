#include "settings/IniText.h"

#include "base/Errno.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

// One code point of strict UTF-8 at `at`, which it moves past; nullopt for
// an invalid, overlong or cut-short sequence and for a surrogate.
std::optional<char32_t> NextUtf8(std::string_view s, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(s[at]);
    std::size_t length = 1;
    char32_t cp = lead;
    char32_t least = 0;
    if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u, least = kFirstSupplementary;
    } else if (lead >= 0xE0) {
        length = 3, cp = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0x80) {
        return std::nullopt;
    }
    if (lead >= 0xF5 || s.size() - at < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(s[at + i]);
        if ((next & 0xC0u) != 0x80u)
            return std::nullopt;
        cp = (cp << 6) | (next & 0x3Fu);
    }
    if (cp < least || cp > kMaxCodePoint || (cp >= kFirstSurrogate && cp <= kLastSurrogate))
        return std::nullopt;
    at += length;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < kFirstSupplementary) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16Le(std::string& out, char32_t unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// UTF-16 LE to UTF-8; false with the line of the fault in `line`.
bool DecodeUtf16Le(std::string_view bytes, std::string& utf8, std::size_t& line)
{
    line = 1;
    const auto unitAt = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (bytes.size() - i < 2)
            return false;
        char32_t cp = unitAt(i);
        if (cp >= kFirstLowSurrogate && cp <= kLastSurrogate)
            return false;
        if (cp >= kFirstSurrogate && cp < kFirstLowSurrogate) {
            if (bytes.size() - i < 4)
                return false;
            const char32_t low = unitAt(i + 2);
            if (low < kFirstLowSurrogate || low > kLastSurrogate)
                return false;
            cp = kFirstSupplementary + ((cp - kFirstSurrogate) << 10) + (low - kFirstLowSurrogate);
            i += 2;
        }
        AppendUtf8(utf8, cp);
        if (cp == '\n')
            ++line;
    }
    return true;
}

bool IsValidUtf8(std::string_view s)
{
    for (std::size_t at = 0; at < s.size();) {
        if (!NextUtf8(s, at))
            return false;
    }
    return true;
}

// Text holds no control byte but tab, CR and LF: anything else (NUL of a
// UTF-16 file read as bytes, escape sequences, binary data) is no INI file.
bool IsText(std::string_view line)
{
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F;
    });
}

std::string_view Trim(std::string_view s)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

}  // namespace

IniReadError DecodeIniText(std::string_view bytes, bool requireUtf8, IniText& text)
{
    text = {};
    std::string decoded;
    bool checkUtf8 = requireUtf8;
    if (bytes.starts_with(kUtf16LeBom)) {
        std::size_t line = 0;
        if (!DecodeUtf16Le(bytes.substr(kUtf16LeBom.size()), decoded, line))
            return {IniProblem::BadEncoding, line, 0};
        text.encoding = TextEncoding::Utf16Le;
        checkUtf8 = false;  // made here, valid by construction
    } else if (bytes.starts_with(kUtf8Bom)) {
        decoded = bytes.substr(kUtf8Bom.size());
        text.encoding = TextEncoding::Utf8WithBom;
    } else {
        decoded = bytes;
    }

    std::vector<std::string> lines;
    for (std::size_t start = 0; start < decoded.size();) {
        const std::size_t nl = decoded.find('\n', start);
        const std::size_t end = nl == std::string::npos ? decoded.size() : nl + 1;
        lines.emplace_back(decoded, start, end - start);
        start = end;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsText(lines[i]))
            return {IniProblem::NotText, i + 1, 0};
        if (checkUtf8 && !IsValidUtf8(lines[i]))
            return {IniProblem::BadEncoding, i + 1, 0};
    }
    text.lines = std::move(lines);
    return {};
}

IniReadError ReadIniFile(const fs::path& path, const IniLimits& limits, IniText& text)
{
    text = {};
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return {IniProblem::Missing, 0, ENOENT};
    if (ec)
        return {IniProblem::Unreadable, 0, ErrnoOf(ec)};
    // A FIFO or a device would block the open or never end.
    if (status.type() != fs::file_type::regular)
        return {IniProblem::NotText, 0, 0};
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        return {IniProblem::Unreadable, 0, ErrnoOf(ec)};
    if (size > limits.maxBytes)
        return {IniProblem::TooLarge, 0, 0};

    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {IniProblem::Unreadable, 0, errno != 0 ? errno : EIO};
    // One byte past the cap tells a file that grew since.
    std::string bytes(static_cast<std::size_t>(limits.maxBytes) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return {IniProblem::Unreadable, 0, EIO};
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > limits.maxBytes)
        return {IniProblem::TooLarge, 0, 0};
    return DecodeIniText(bytes, limits.requireUtf8, text);
}

std::optional<std::string> EncodeIniText(const IniText& text)
{
    std::string utf8;
    for (const std::string& line : text.lines)
        utf8 += line;
    switch (text.encoding) {
    case TextEncoding::Utf8: return utf8;
    case TextEncoding::Utf8WithBom: return std::string(kUtf8Bom) + utf8;
    case TextEncoding::Utf16Le: break;
    }
    std::string bytes(kUtf16LeBom);
    for (std::size_t at = 0; at < utf8.size();) {
        const std::optional<char32_t> cp = NextUtf8(utf8, at);
        if (!cp)
            return std::nullopt;
        if (*cp < kFirstSupplementary) {
            AppendUtf16Le(bytes, *cp);
        } else {
            const char32_t v = *cp - kFirstSupplementary;
            AppendUtf16Le(bytes, kFirstSurrogate + (v >> 10));
            AppendUtf16Le(bytes, kFirstLowSurrogate + (v & 0x3FF));
        }
    }
    return bytes;
}

std::string_view IniLineBody(std::string_view line)
{
    if (line.ends_with('\n'))
        line.remove_suffix(1);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

IniLine ParseIniLine(std::string_view line)
{
    IniLine result;
    const std::string_view body = IniLineBody(line);
    const std::string_view trimmed = Trim(body);
    if (trimmed.empty())
        return result;
    if (trimmed.front() == ';' || trimmed.front() == '#') {
        result.kind = IniLine::Kind::Comment;
        return result;
    }
    if (trimmed.front() == '[') {
        result.kind = IniLine::Kind::Section;
        const std::size_t close = trimmed.find(']');
        result.closed = close != std::string_view::npos;
        result.name = Trim(trimmed.substr(1, result.closed ? close - 1 : std::string_view::npos));
        if (result.closed)
            result.rest = Trim(trimmed.substr(close + 1));
        return result;
    }
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos) {
        result.kind = IniLine::Kind::Other;
        return result;
    }
    result.kind = IniLine::Kind::Key;
    result.name = Trim(body.substr(0, eq));
    result.value = Trim(body.substr(eq + 1));
    result.valueStart = eq + 1;
    while (result.valueStart < body.size() && (body[result.valueStart] == ' ' || body[result.valueStart] == '\t'))
        ++result.valueStart;  // keep the blanks a person put after '='
    return result;
}

}  // namespace veltrad
