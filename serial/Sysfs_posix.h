#pragma once
// Reading Linux's sysfs: the attributes of a tty's device, its driver, and
// the USB device above it. Every function takes paths under whatever root
// the caller chose, so tests can hand in a tree of their own.

#include <filesystem>
#include <string>

namespace veltrad::sysfs {

// The first line of an attribute file, without trailing white space; empty
// when the file is missing or unreadable.
std::string ReadAttribute(const std::filesystem::path& file);

// The name of the driver bound to a device directory, empty when none is. A
// serial-core port device (bus "serial-base", drivers "port" and "ctrl") is
// looked through to the driver of the controller that owns it.
std::string DeviceDriver(const std::filesystem::path& deviceDir);

// The USB device (the directory holding idVendor) at or above a device
// directory; empty when the device is not on USB.
std::filesystem::path UsbDeviceDir(const std::filesystem::path& deviceDir);

}  // namespace veltrad::sysfs
