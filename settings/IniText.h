#pragma once
// The one reader of INI files, under the settings file and the station's job
// file: the file's bytes to lines of UTF-8, and a line to what it says.
//
// A file is UTF-8, with or without the byte order mark Notepad writes, or
// UTF-16 LE behind its byte order mark (Notepad's "Unicode", and what
// Windows' own profile functions read). Lines end in LF or CR LF and keep
// their ending, so a rewrite can give back every untouched byte, in the
// encoding the file was read in. Section and key names compare without case
// (base/NoCase.h); what a name or a value means is the caller's.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrad {

enum class TextEncoding {
    Utf8,         // no byte order mark (or an ANSI file of plain ASCII)
    Utf8WithBom,  // EF BB BF first
    Utf16Le,      // FF FE first
};

enum class IniProblem {
    None,
    Missing,      // nothing by that name
    Unreadable,   // the system refused the open or the read: systemError says why
    TooLarge,     // larger than the caller's cap
    NotText,      // a control byte (NUL, ESC, ...) or no regular file at all
    BadEncoding,  // UTF-16 cut short or with a lone surrogate; invalid UTF-8 where the caller asks for UTF-8
};

struct IniReadError {
    IniProblem problem = IniProblem::None;
    std::size_t line = 0;  // the first line at fault, from 1; 0: the file as a whole
    int systemError = 0;   // errno of Unreadable

    bool Failed() const { return problem != IniProblem::None; }
};

struct IniText {
    TextEncoding encoding = TextEncoding::Utf8;
    std::vector<std::string> lines;  // UTF-8, each with its line ending as found
};

struct IniLimits {
    std::uintmax_t maxBytes;   // a larger file is TooLarge
    bool requireUtf8 = false;  // a file without a UTF-16 mark must be valid UTF-8
};

// The file's lines; `text` is left empty on any problem. A file that is no
// regular file (a folder, a FIFO, a device) is never opened.
IniReadError ReadIniFile(const std::filesystem::path& path, const IniLimits& limits, IniText& text);

// The same for bytes already read (the size cap is the caller's).
IniReadError DecodeIniText(std::string_view bytes, bool requireUtf8, IniText& text);

// The bytes of `text` in its encoding, byte order mark included; nullopt when
// a line cannot be written in it (bytes that are no UTF-8, for UTF-16).
std::optional<std::string> EncodeIniText(const IniText& text);

// What one line says. Names and values are trimmed of blanks and views into
// the line given.
struct IniLine {
    enum class Kind {
        Blank,
        Comment,  // first non-blank character ';' or '#'
        Section,  // "[name]", `rest` what follows the ']'; `closed` false without it
        Key,      // "key=value"
        Other,    // none of these
    };
    Kind kind = Kind::Blank;
    std::string_view name;       // the section's or the key's
    std::string_view value;      // the key's
    std::string_view rest;       // after a section's ']'
    std::size_t valueStart = 0;  // where the key's value text begins in the line
    bool closed = true;
};

IniLine ParseIniLine(std::string_view line);

// The line without its ending (LF or CR LF).
std::string_view IniLineBody(std::string_view line);

}  // namespace veltrad
