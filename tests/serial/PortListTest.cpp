// The present serial devices read from a fake sysfs and /dev tree, the COM
// numbers that reach them, and what sysfs says about an adapter's timer.

#include "serial/LowLatency_posix.h"
#include "serial/PortList.h"
#include "serial/PortMap.h"

#include "common/FakeDeviceTree.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {
namespace {

using test::FakeDeviceTree;
using test::TempDir;

class PortListTest : public ::testing::Test {
protected:
    DeviceRoots Roots() const { return {tree.Sys(), tree.Dev()}; }

    TempDir dir;
    FakeDeviceTree tree{dir.Path()};
};

TEST_F(PortListTest, ListsTheDevicesWithADriverAndAUartInNaturalOrder)
{
    const std::vector<SerialDeviceInfo> devices = ListSerialDevices(Roots());
    struct Expected {
        const char* device;
        const char* driver;
        const char* vid;
        const char* pid;
        const char* manufacturer;
        const char* product;
        const char* serial;
        const char* byId;
        const char* byPath;
    };
    const Expected expected[] = {
        {"/dev/ttyACM0", "cdc_acm", "2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", "8573632",
         FakeDeviceTree::kAcmById, FakeDeviceTree::kAcmByPath},
        {"/dev/ttyS0", "serial", "", "", "", "", "", "", ""},
        {"/dev/ttyS10", "serial8250", "", "", "", "", "", "", ""},
        {"/dev/ttyUSB0", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", FakeDeviceTree::kFtdiById,
         FakeDeviceTree::kFtdiByPath},
        {"/dev/ttyUSB1", "ch341-uart", "1a86", "7523", "", "USB Serial", "", "", FakeDeviceTree::kCh340aByPath},
        {"/dev/ttyUSB2", "ch341-uart", "1a86", "7523", "", "USB Serial", "", FakeDeviceTree::kCh340ById,
         FakeDeviceTree::kCh340bByPath},
    };
    ASSERT_EQ(devices.size(), std::size(expected));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SerialDeviceInfo& d = devices[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(e.device);
        EXPECT_EQ(d.device, e.device);
        EXPECT_EQ(d.driver, e.driver);
        EXPECT_EQ(d.vid, e.vid);
        EXPECT_EQ(d.pid, e.pid);
        EXPECT_EQ(d.manufacturer, e.manufacturer);
        EXPECT_EQ(d.product, e.product);
        EXPECT_EQ(d.serial, e.serial);
        EXPECT_EQ(d.byId, e.byId);
        EXPECT_EQ(d.byPath, e.byPath);
    }
    EXPECT_EQ(DescribeDevice(devices[3]), "FT232R USB UART, FTDI, serial A50285BI");
    EXPECT_EQ(DescribeDevice(devices[4]), "USB Serial");
    EXPECT_EQ(DescribeDevice(devices[1]), "serial") << "the driver when nothing else is known";

    EXPECT_TRUE(ListSerialDevices({dir / "nothing", dir / "nothing"}).empty());
}

TEST_F(PortListTest, ComNumbersFromThePortMapWithALineForTheRest)
{
    struct Case {
        std::vector<std::pair<std::uint16_t, std::string>> overrides;
        std::map<std::string, int> com;  // device -> COM number (0: none)
        std::map<std::string, std::pair<int, std::string>> suggested;
    };
    const std::string ownLink = (dir / "kv9090").string();
    std::filesystem::create_symlink(tree.Dev() / "ttyACM0", ownLink);
    const Case cases[] = {
        {{},
         {{"/dev/ttyACM0", 0},
          {"/dev/ttyS0", 1},
          {"/dev/ttyS10", 11},
          {"/dev/ttyUSB0", 33},
          {"/dev/ttyUSB1", 34},
          {"/dev/ttyUSB2", 35}},
         // COM2 is free: ttyS1 has no UART.
         {{"/dev/ttyACM0", {2, FakeDeviceTree::kAcmByPath}}}},
        {{{2, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"},
          {33, "/dev/ttyS7"},
          {3, "/dev/ttyS7"},  // absent, but its number is taken
          {5, "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0"}},
         {{"/dev/ttyACM0", 0},
          {"/dev/ttyS0", 1},
          {"/dev/ttyS10", 11},
          {"/dev/ttyUSB0", 0},
          {"/dev/ttyUSB1", 2},
          {"/dev/ttyUSB2", 5}},
         {{"/dev/ttyACM0", {4, FakeDeviceTree::kAcmByPath}}, {"/dev/ttyUSB0", {6, FakeDeviceTree::kFtdiByPath}}}},
        {{{50, ownLink}},
         {{"/dev/ttyACM0", 50},
          {"/dev/ttyS0", 1},
          {"/dev/ttyS10", 11},
          {"/dev/ttyUSB0", 33},
          {"/dev/ttyUSB1", 34},
          {"/dev/ttyUSB2", 35}},
         {}},
    };
    const std::vector<SerialDeviceInfo> devices = ListSerialDevices(Roots());
    for (const Case& c : cases) {
        CPortMap map;
        for (const auto& [port, device] : c.overrides)
            map.Override(port, device);
        const std::vector<ComAssignment> coms = AssignComNumbers(devices, map, Roots());
        ASSERT_EQ(coms.size(), devices.size());
        for (std::size_t i = 0; i < devices.size(); ++i) {
            SCOPED_TRACE(devices[i].device);
            EXPECT_EQ(coms[i].com, c.com.at(devices[i].device));
            const auto it = c.suggested.find(devices[i].device);
            EXPECT_EQ(coms[i].suggestedCom, it == c.suggested.end() ? 0 : it->second.first);
            EXPECT_EQ(coms[i].suggestedDevice, it == c.suggested.end() ? "" : it->second.second);
        }
    }
}

TEST_F(PortListTest, AdapterDriverAndLatencyTimerFromSysfs)
{
    struct Case {
        const char* tty;
        const char* driver;
        std::optional<int> timer;
    };
    const Case cases[] = {
        {"ttyUSB0", "ftdi_sio", 16},
        {"ttyUSB1", "ch341-uart", std::nullopt},
        {"ttyS0", "serial", std::nullopt},
        {"pts3", "", std::nullopt},  // no such entry, as for a pseudo-terminal
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tty);
        const AdapterInfo info = ReadSysfsAdapter(tree.Sys() / "class/tty" / c.tty);
        EXPECT_EQ(info.driver, c.driver);
        EXPECT_EQ(info.latencyTimerMs, c.timer);
        EXPECT_FALSE(info.lowLatencyGranted);
    }
}

}  // namespace
}  // namespace veltrad
