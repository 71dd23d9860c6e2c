#include "multiport/AdapterSerial.h"

#include <fstream>

namespace veltrad {

namespace fs = std::filesystem;

std::string AdapterSerialNumber(const std::string& device, const fs::path& sysfs)
{
    std::error_code ec;
    // A link such as /dev/serial/by-id/... names the tty it points to.
    const fs::path tty = fs::canonical(device, ec);
    if (ec)
        return {};
    fs::path node = fs::canonical(sysfs / "class" / "tty" / tty.filename() / "device", ec);
    if (ec)
        return {};
    // Up from the tty's device (a USB interface, or the tty under it) to the
    // USB device, the first folder with a vendor id; the tree ends at
    // "devices".
    const fs::path top = fs::canonical(sysfs / "devices", ec);
    for (; !ec && node != top && node.has_relative_path(); node = node.parent_path()) {
        if (!fs::exists(node / "idVendor", ec))
            continue;
        std::ifstream file(node / "serial");
        std::string serial;
        std::getline(file, serial);
        return serial;
    }
    return {};
}

}  // namespace veltrad
