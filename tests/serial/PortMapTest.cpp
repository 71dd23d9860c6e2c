// Port numbers to devices: the built-in map, the [Ports] overrides, the COM
// names the command line takes, and an open by number through the map.

#include "serial/CommThread.h"
#include "serial/PortMap.h"
#include "settings/Profile.h"

#include "TestPty.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace veltrad {
namespace {

using test::TempDir;

TEST(PortMap, BuiltInDevicesAndOverridesFromThePortsSection)
{
    TempDir dir;
    const CProfile profile(dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=3\n"
                                                        "[Ports]\nCOM12=/dev/ttyACM0\nCOM33 = /dev/serial/by-id/usb \n"
                                                        "COM5=\nCOM50=/dev/ttyX\nCOM51=/dev/ttyY\n"));
    const CPortMap map = PortMapFromProfile(profile);
    const struct {
        std::uint16_t port;
        std::optional<std::string> builtIn;
        std::optional<std::string> mapped;
    } cases[] = {
        {0, std::nullopt, std::nullopt},
        {1, "/dev/ttyS0", "/dev/ttyS0"},
        {5, "/dev/ttyS4", "/dev/ttyS4"},  // an empty entry is no entry
        {12, "/dev/ttyS11", "/dev/ttyACM0"},
        {32, "/dev/ttyS31", "/dev/ttyS31"},
        {33, "/dev/ttyUSB0", "/dev/serial/by-id/usb"},
        {50, "/dev/ttyUSB17", "/dev/ttyX"},
        {51, std::nullopt, std::nullopt},  // only COM1 to COM50 exist
        {65535, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("COM" + std::to_string(c.port));
        EXPECT_EQ(CPortMap().Device(c.port), c.builtIn);
        EXPECT_EQ(map.Device(c.port), c.mapped);
        EXPECT_EQ(map.Overridden(c.port), c.builtIn != c.mapped);
    }
    EXPECT_EQ(PortMapFromProfile(CProfile(dir.Path() / "absent.INI")), CPortMap());
    EXPECT_EQ(PortMapFromProfile(CProfile(dir.Path())), CPortMap()) << "a folder is no settings file";
}

TEST(PortMap, ComNamesGiveTheirNumberWithoutWrapping)
{
    const std::pair<const char*, std::optional<std::uint16_t>> cases[] = {
        {"COM1", 1},
        {"com7", 7},
        {"Com50", 50},
        {"COM0", 0},
        {"COM007", 7},
        {"COM10:", 10},  // as Windows also names its ports
        {"\\\\.\\COM10", 10},
        {"\\\\.\\com3:", 3},
        {"COM3::", std::nullopt},
        {"\\\\?\\COM3", std::nullopt},
        {"COM65535", 65535},
        {"COM65536", 65535},
        {"COM99999999999", 65535},
        {"COM", std::nullopt},
        {"COM1a", std::nullopt},
        {"COM-1", std::nullopt},
        {"/dev/ttyS0", std::nullopt},
        {"", std::nullopt},
        {"XCOM1", std::nullopt},
    };
    for (const auto& [name, number] : cases)
        EXPECT_EQ(ParseComName(name), number) << name;
}

TEST(PortMap, OpenByNumberUsesTheMapItWasGiven)
{
    test::CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    CPortMap map;
    map.Override(7, pty.SlavePath());
    map.Override(12, "/dev/null");
    CCommThread comm(map);
    ASSERT_TRUE(comm.OpenPort(7, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit)) << comm.LastOpenError();
    EXPECT_EQ(comm.DevicePath(), pty.SlavePath());
    EXPECT_EQ(comm.LastOpenError(), "");

    EXPECT_FALSE(comm.OpenPort(12, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit));
    EXPECT_FALSE(comm.m_bConnected);
    EXPECT_EQ(comm.LastOpenError(), "/dev/null: not a serial device");

    for (const std::uint16_t port : {std::uint16_t{0}, std::uint16_t{51}}) {
        EXPECT_FALSE(comm.OpenPort(port, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit));
        EXPECT_EQ(comm.LastOpenError(), "COM" + std::to_string(port) + ": no such port (COM1 to COM50)");
        EXPECT_EQ(comm.DevicePath(), "");
    }
}

}  // namespace
}  // namespace veltrad
