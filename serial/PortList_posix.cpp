#include "serial/PortList.h"

#include "serial/Sysfs_posix.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

namespace veltrad {

namespace fs = std::filesystem;

namespace {

constexpr char kDevPrefix[] = "/dev/";
constexpr char kByIdDir[] = "/dev/serial/by-id/";
constexpr char kByPathDir[] = "/dev/serial/by-path/";

// "ttyS10" -> ("ttyS", 10), so that ttyS2 comes before ttyS10.
std::pair<std::string, unsigned long> SortKey(const std::string& name)
{
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    const std::string number = name.substr(digits);
    return {name.substr(0, digits), number.empty() || number.size() > 9 ? 0 : std::stoul(number)};
}

std::vector<std::string> SortedNames(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return SortKey(a) < SortKey(b); });
    return names;
}

// The links of a /dev/serial folder by the device node they point at; the
// first name in order when several point at one.
std::map<std::string, std::string> LinksByTarget(const fs::path& folder)
{
    std::map<std::string, std::string> byTarget;
    for (const std::string& link : SortedNames(folder)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(folder / link, ec);
        if (!ec)
            byTarget.emplace(target.filename().string(), link);
    }
    return byTarget;
}

// Where a path under /dev lies in the tree being read.
fs::path UnderRoot(const std::string& path, const DeviceRoots& roots)
{
    if (path.rfind(kDevPrefix, 0) == 0)
        return roots.dev / path.substr(sizeof kDevPrefix - 1);
    return path;
}

}  // namespace

std::vector<SerialDeviceInfo> ListSerialDevices(const DeviceRoots& roots)
{
    const fs::path ttys = roots.sys / "class" / "tty";
    const auto byId = LinksByTarget(roots.dev / "serial" / "by-id");
    const auto byPath = LinksByTarget(roots.dev / "serial" / "by-path");
    std::vector<SerialDeviceInfo> devices;
    for (const std::string& name : SortedNames(ttys)) {
        const fs::path tty = ttys / name;
        SerialDeviceInfo info;
        // Virtual consoles and the pty multiplexer have no device; a port
        // whose driver let go of it is no use either.
        info.driver = sysfs::DeviceDriver(tty / "device");
        if (info.driver.empty())
            continue;
        if (sysfs::ReadAttribute(tty / "type") == "0")
            continue;
        info.device = kDevPrefix + name;
        if (const fs::path usb = sysfs::UsbDeviceDir(tty / "device"); !usb.empty()) {
            info.vid = sysfs::ReadAttribute(usb / "idVendor");
            info.pid = sysfs::ReadAttribute(usb / "idProduct");
            info.manufacturer = sysfs::ReadAttribute(usb / "manufacturer");
            info.product = sysfs::ReadAttribute(usb / "product");
            info.serial = sysfs::ReadAttribute(usb / "serial");
        }
        if (const auto it = byId.find(name); it != byId.end())
            info.byId = kByIdDir + it->second;
        if (const auto it = byPath.find(name); it != byPath.end())
            info.byPath = kByPathDir + it->second;
        devices.push_back(std::move(info));
    }
    return devices;
}

bool NamesDevice(const std::string& configured, const SerialDeviceInfo& device, const DeviceRoots& roots)
{
    if (configured.empty())
        return false;
    if (configured == device.device || configured == device.byId || configured == device.byPath)
        return true;
    // Any other link to it: the operator's own, or a by-id name of another form.
    std::error_code ec;
    const fs::path target = fs::canonical(UnderRoot(configured, roots), ec);
    if (ec)
        return false;
    const fs::path self = fs::canonical(UnderRoot(device.device, roots), ec);
    return !ec && target == self;
}

}  // namespace veltrad
