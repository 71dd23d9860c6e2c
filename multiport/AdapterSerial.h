#pragma once
// The serial number of the USB adapter behind a serial device, for the run
// log's traceability. One implementation per platform.

#include <filesystem>
#include <string>

namespace veltrad {

// The adapter's serial number as the USB device reports it; empty when the
// device is no USB adapter, reports none, or the system does not say.
// `sysfs` is the root of the kernel's device tree where the system has one.
std::string AdapterSerialNumber(const std::string& device, const std::filesystem::path& sysfs = "/sys");

}  // namespace veltrad
