#pragma once
// Paths to and from UTF-8 text. A path built from a std::string converts
// through the system's narrow code page on Windows, which garbles any name
// outside it; these go through char8_t, the same bytes on Linux.

#include <filesystem>
#include <string>

namespace veltrad {

inline std::filesystem::path PathFromUtf8(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace veltrad
