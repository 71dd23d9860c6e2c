#include "settings/NewFile.h"

#include <cstdio>
#include <random>
#include <string>

namespace veltrad {

std::optional<std::filesystem::path> WriteNewSibling(const std::filesystem::path& target, std::string_view content,
                                                     std::error_code& ec)
{
    // A name taken meanwhile, by another start or by anyone, is simply passed by.
    constexpr int kAttempts = 16;
    std::random_device random;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        std::filesystem::path candidate = target;
        candidate += suffix;
        if (WriteNewFile(candidate, content, ec))
            return candidate;
        if (ec != std::errc::file_exists)
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace veltrad
