#include "image/TextFile.h"

#include "platform/LongPath_win32.h"

#include <cstring>
#include <string>

namespace veltrad {

std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode)
{
    const std::wstring wideMode(mode, mode + std::strlen(mode));  // ASCII
    return ::_wfopen(Win32FilePath(path).c_str(), wideMode.c_str());
}

}  // namespace veltrad
