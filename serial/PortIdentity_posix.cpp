#include "serial/PortIdentity.h"

#include "base/Utf8Path.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace veltrad {

std::string DeviceIdentity(const std::string& device)
{
    // The kernel's number for the tty, whatever path reaches its node.
    struct stat st {};
    if (::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
        return "char " + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(PathFromUtf8(device), ec);
    return "path " + (ec ? device : Utf8FromPath(canonical));
}

}  // namespace veltrad
