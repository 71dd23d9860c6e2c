// What the Windows registry's entries for serial ports become in the port
// list, and the port names as the open and the registry write them.

#include "serial/DeviceRegistry_win32.h"
#include "serial/PortList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrad {
namespace {

RegistryPort Entry(const char* enumerator, const char* service, const char* hardwareId, const char* instanceId)
{
    RegistryPort port;
    port.portName = "COM3";
    port.enumerator = enumerator;
    port.service = service;
    port.hardwareId = hardwareId;
    port.instanceId = instanceId;
    port.manufacturer = "FTDI";
    port.busDescription = "FT232R USB UART";
    port.friendlyName = "USB Serial Port (COM3)";
    return port;
}

TEST(PortListWin32, RegistryEntriesGiveDriverIdsAndSerialNumber)
{
    struct Case {
        RegistryPort port;
        const char* driver;
        const char* vid;
        const char* pid;
        const char* serial;
    };
    const Case cases[] = {
        {Entry("FTDIBUS", "FTSER2K", "FTDIBUS\\COMPORT&VID_0403&PID_6001",
               "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"),
         "FTDIBUS", "0403", "6001", "A50285BI"},
        {Entry("USB", "usbser", "USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043\\8573632"), "usbser", "2341",
         "0043", "8573632"},
        // No serial number: Windows makes up the last part, with '&' in it.
        {Entry("USB", "CH341SER_A64", "USB\\VID_1A86&PID_7523&REV_0254", "USB\\VID_1A86&PID_7523\\5&2C1F4E6&0&2"),
         "CH341SER_A64", "1a86", "7523", ""},
        {Entry("ACPI", "Serial", "ACPI\\PNP0501", "ACPI\\PNP0501\\0"), "Serial", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port.instanceId);
        const SerialDeviceInfo info = DescribeRegistryPort(c.port);
        EXPECT_EQ(info.device, "COM3");
        EXPECT_EQ(info.driver, c.driver);
        EXPECT_EQ(info.vid, c.vid);
        EXPECT_EQ(info.pid, c.pid);
        EXPECT_EQ(info.serial, c.serial);
        EXPECT_EQ(info.friendlyName, "USB Serial Port (COM3)");
    }
    EXPECT_EQ(DescribeDevice(DescribeRegistryPort(cases[0].port)), "FT232R USB UART, FTDI, serial A50285BI");
    RegistryPort located = cases[2].port;
    located.location = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";
    EXPECT_EQ(DescribeRegistryPort(located).location, located.location);
}

// A location binds a station's tile to one port: one that two ports share
// (the ports of one multi-port chip, found at the USB device above them)
// binds neither.
TEST(PortListWin32, ALocationThatTwoPortsShareIsDropped)
{
    struct Case {
        const char* name;
        std::vector<std::string> locations;
        std::vector<std::string> kept;
    };
    const std::string a = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
    const std::string b = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";
    const Case cases[] = {
        {"all apart", {a, b, ""}, {a, b, ""}},
        {"two share", {a, a, b}, {"", "", b}},
        {"three share, apart", {b, a, b, b}, {"", a, "", ""}},
        {"none has one", {"", ""}, {"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SerialDeviceInfo> devices;
        for (const std::string& location : c.locations) {
            SerialDeviceInfo device;
            device.device = "COM" + std::to_string(devices.size() + 1);
            device.location = location;
            devices.push_back(device);
        }
        DropSharedLocations(devices);
        std::vector<std::string> kept;
        for (const SerialDeviceInfo& device : devices)
            kept.push_back(device.location);
        EXPECT_EQ(kept, c.kept);
    }
}

TEST(PortListWin32, PortNamesAndWhichComNumberNamesADevice)
{
    EXPECT_EQ(NormalPortName("COM3"), "COM3");
    EXPECT_EQ(NormalPortName("\\\\.\\com12"), "COM12");
    EXPECT_EQ(NormalPortName("LPT1"), "");
    SerialDeviceInfo com12;
    com12.device = "COM12";
    EXPECT_TRUE(NamesDevice("\\\\.\\COM12", com12));
    EXPECT_FALSE(NamesDevice("COM1", com12));
    EXPECT_FALSE(NamesDevice("", com12));
}

TEST(PortListWin32, TheSystemsListNamesComPortsOnly)
{
    // Under Wine, whatever ports the prefix has; the list must hold only COM names.
    for (const SerialDeviceInfo& device : ListSerialDevices())
        EXPECT_EQ(device.device.rfind("COM", 0), 0u) << device.device;
    EXPECT_EQ(ReadAdapterInfo("COM199").driver, "");
}

}  // namespace
}  // namespace veltrad
