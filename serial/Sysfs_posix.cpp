#include "serial/Sysfs_posix.h"

#include <fstream>

namespace veltrad::sysfs {

namespace fs = std::filesystem;

namespace {

// A USB-serial tty sits at most two levels below its USB device (port,
// interface, device); a serial-core port two below the driver it stands for.
constexpr int kLevelsUp = 3;

}  // namespace

std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    return line;
}

std::string DeviceDriver(const fs::path& deviceDir)
{
    std::error_code ec;
    fs::path dir = fs::canonical(deviceDir, ec);
    for (int level = 0; !ec && level < kLevelsUp; ++level, dir = dir.parent_path()) {
        const fs::path target = fs::read_symlink(dir / "driver", ec);
        if (ec)
            return {};
        // .../bus/<bus>/drivers/<name>
        if (target.parent_path().parent_path().filename() != "serial-base")
            return target.filename().string();
    }
    return {};
}

fs::path UsbDeviceDir(const fs::path& deviceDir)
{
    std::error_code ec;
    fs::path dir = fs::canonical(deviceDir, ec);
    for (int level = 0; !ec && level < kLevelsUp && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec))
            return dir;
    }
    return {};
}

}  // namespace veltrad::sysfs
