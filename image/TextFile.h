#pragma once
// A C stdio file opened by a path of any name: on Windows through the wide
// API (and the \\?\ form beyond MAX_PATH), where std::fopen would take the
// narrow code page. One implementation per platform.

#include <cstdio>
#include <filesystem>

namespace veltrad {

// std::fopen with `mode` (ASCII); null with errno set when it fails.
std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode);

}  // namespace veltrad
