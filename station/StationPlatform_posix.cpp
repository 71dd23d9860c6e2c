#include "station/StationPlatform.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace veltrad {

std::string HostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::filesystem::path DefaultRecordsFolder()
{
    // The XDG base directories: a relative value is to be ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/')
            return {};
        base = std::filesystem::path(home) / ".local" / "share";
    }
    return base / "Veltrad" / "records";
}

std::string DeviceLocation(const SerialDeviceInfo& device) { return device.byPath; }

}  // namespace veltrad
