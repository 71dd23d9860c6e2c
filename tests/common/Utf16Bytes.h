#pragma once
// Files as Notepad saves them in "Unicode": UTF-16 LE behind its byte order mark.

#include <string>
#include <string_view>

namespace veltrad::test {

// `ascii` as UTF-16 LE, each character one unit, behind the byte order mark.
inline std::string Utf16Le(std::string_view ascii)
{
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii)
        bytes += std::string{c, '\0'};
    return bytes;
}

}  // namespace veltrad::test
