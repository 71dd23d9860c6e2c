#pragma once
// The serial devices present on this machine, what they are, and which COM
// number reaches each: for `veltrad-cli ports` and the port list's tooltips.
// Linux reads sysfs (/sys/class/tty/*/device) and the /dev/serial links;
// Windows reads the SERIALCOMM device map and the ports' registry entries.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrad {

class CPortMap;

struct SerialDeviceInfo {
    std::string device;        // what an open takes: /dev/ttyUSB0, COM3
    std::string driver;        // ftdi_sio, cdc_acm, serial8250; FTDIBUS or the port's service on Windows
    std::string vid;           // USB vendor id, 4 hex digits; empty off USB
    std::string pid;           // USB product id
    std::string manufacturer;  // as the USB device reports them; empty when it does not
    std::string product;
    std::string serial;
    std::string byId;  // /dev/serial/by-id/... and by-path/... names of it; empty when none
    std::string byPath;
    std::string friendlyName;  // Windows: "USB Serial Port (COM3)"; empty elsewhere
    // Windows: where the adapter sits, its location path, which stays with
    // the USB socket: "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)".
    // Empty elsewhere, and for a port that shares it (see ListSerialDevices).
    std::string location;
};

// Where a POSIX system keeps sysfs and its device nodes. Tests point them at
// a tree of their own; device names are still reported under /dev. Windows
// reads its registry and ignores them.
struct DeviceRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

// The present devices, ordered by name (ttyS2 before ttyS10). On Linux a tty
// counts when its device has a driver, and a serial-core port (one with a
// `type` attribute) only when that type is not 0, the "no UART here" of an
// 8250 slot that the kernel registers whether or not a chip answers. On
// Windows two ports of one location (the ports of one multi-port chip, seen
// through the USB device above them) both go without one.
std::vector<SerialDeviceInfo> ListSerialDevices(const DeviceRoots& roots = {});

// Whether `configured`, the device a COM number maps to, is `device`: its
// name, one of its links, or a path that resolves to it.
bool NamesDevice(const std::string& configured, const SerialDeviceInfo& device, const DeviceRoots& roots = {});

// What the device is, for an operator: "FT232R USB UART, FTDI, serial
// A50285BI"; the friendly name or the driver when it tells nothing more.
std::string DescribeDevice(const SerialDeviceInfo& device);

struct ComAssignment {
    std::uint16_t com = 0;           // the lowest COM number that reaches the device; 0: none does
    std::uint16_t suggestedCom = 0;  // when none does: a number free for a [Ports] line...
    std::string suggestedDevice;     // ...that names the device so (by-path, by-id, then the device)
};

// For each of `devices`, in order: which COM number reaches it through the
// port map `ports` and, for a device that none reaches, the [Ports] line
// that would. A free number has no override and its device is none of
// `devices`; each
// suggestion takes another. A by-id name is shared by adapters without a
// serial number, so the by-path name comes first.
std::vector<ComAssignment> AssignComNumbers(const std::vector<SerialDeviceInfo>& devices, const CPortMap& ports,
                                            const DeviceRoots& roots = {});

}  // namespace veltrad
