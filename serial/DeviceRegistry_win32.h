#pragma once
// What Windows' device registry says about its serial ports: one entry per
// present device of the Ports class, found through SetupAPI. Only reads; no
// elevation is ever needed or asked for.

#include "serial/AdapterInfo.h"
#include "serial/PortList.h"

#include <optional>
#include <string>
#include <vector>

namespace veltrad {

struct RegistryPort {
    std::string portName;               // "COM3"
    std::string friendlyName;           // "USB Serial Port (COM3)"
    std::string busDescription;         // what the USB device calls itself: "FT232R USB UART"
    std::string manufacturer;           // of the driver package: "FTDI"
    std::string enumerator;             // "FTDIBUS", "USB", "ACPI"
    std::string service;                // "FTSER2K", "usbser", "Serial"
    std::string hardwareId;             // the first hardware id: "FTDIBUS\COMPORT&VID_0403&PID_6001"
    std::string instanceId;             // "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
    std::optional<int> latencyTimerMs;  // the "LatencyTimer" device parameter (FTDI's driver)
    // The first location path of the port's device or, where it has none
    // (FTDI's ports are children of its bus driver), of the nearest device
    // above it that has one.
    std::string location;
};

// Every present Ports-class device that has a PortName.
std::vector<RegistryPort> ReadRegistryPorts();

// What a registry entry says about its device, in the list's terms: the
// driver (FTDIBUS, or the port's service), USB ids and serial number out of
// the hardware and instance ids, maker, product and friendly name.
SerialDeviceInfo DescribeRegistryPort(const RegistryPort& port);

// Takes the location from every device that shares it with another: a
// location names one port only.
void DropSharedLocations(std::vector<SerialDeviceInfo>& devices);

// "COM3" out of any name ParseComName reads as COM3 ("\\.\com3", "COM03"); empty for others.
std::string NormalPortName(const std::string& device);

// The adapter behind `device`: FTDI's driver ("FTDIBUS") with its latency
// timer, or the port's service.
AdapterInfo ReadAdapterInfo(const std::string& device);

}  // namespace veltrad
