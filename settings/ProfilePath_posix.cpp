#include "settings/Profile.h"

#include <cstdlib>

namespace veltrad {

std::filesystem::path CProfile::DefaultPath()
{
    // XDG base directories: an unset or relative XDG_CONFIG_HOME is ignored,
    // and so is a relative HOME. Without either there is no settings file:
    // never one in the working directory, which anyone may have put there.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::filesystem::path(xdg) / kProfileFileName;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::filesystem::path(home) / ".config" / kProfileFileName;
    return {};
}

}  // namespace veltrad
