#include "image/TextFile.h"

namespace veltrad {

std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

}  // namespace veltrad
