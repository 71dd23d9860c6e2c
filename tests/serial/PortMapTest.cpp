// Port numbers to devices, and the Windows-style names the port keeps.

#include "serial/CommThread.h"
#include "serial/PortMap.h"

#include "TestPty.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

using test::TempDir;

struct DefaultCase {
    std::uint16_t port;
    std::optional<std::string> device;
};

TEST(PortMap, DefaultTable)
{
    const DefaultCase cases[] = {
        {0, std::nullopt},           {1, "/dev/ttyS0"},       {2, "/dev/ttyS1"},
        {32, "/dev/ttyS31"},         {33, "/dev/ttyUSB0"},    {34, "/dev/ttyUSB1"},
        {50, "/dev/ttyUSB17"},       {51, std::nullopt},      {65535, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultPortDevice(c.port), c.device) << "COM" << c.port;
}

TEST(PortMap, SettingsFileNamesDevicesPerPort)
{
    TempDir dir;
    const auto ini = dir.WriteText("Veltrad.INI",
              "[ComPort]\nPort Num=3\n"
              "[Ports]\nCOM12=/dev/ttyACM0\nCOM33 = /dev/serial/by-id/usb-adapter \nCOM5=\nCOM51=/dev/ttyX\n");
    EXPECT_EQ(ResolvePortDevice(12, ini), "/dev/ttyACM0");
    EXPECT_EQ(ResolvePortDevice(33, ini), "/dev/serial/by-id/usb-adapter");
    EXPECT_EQ(ResolvePortDevice(5, ini), "/dev/ttyS4") << "an empty entry is no entry";
    EXPECT_EQ(ResolvePortDevice(13, ini), "/dev/ttyS12");
    EXPECT_EQ(ResolvePortDevice(51, ini), std::nullopt) << "only COM1 to COM50 exist";
    EXPECT_EQ(ResolvePortDevice(0, ini), std::nullopt);
}

TEST(PortMap, MissingOrUnreadableSettingsFallBackToDefaults)
{
    TempDir dir;
    EXPECT_EQ(ResolvePortDevice(7, dir.Path() / "absent.INI"), "/dev/ttyS6");
    EXPECT_EQ(ResolvePortDevice(7, dir.Path()), "/dev/ttyS6") << "a folder is no settings file";
}

TEST(PortName, ShortFormBelowTenDeviceNamespaceFromTen)
{
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0, "COM0"}, {1, "COM1"}, {9, "COM9"}, {10, "\\\\.\\COM10"}, {50, "\\\\.\\COM50"}, {65535, "\\\\.\\COM65535"},
    };
    for (const auto& [port, name] : cases)
        EXPECT_EQ(FormatPortName(port), name);
}

// OpenPort reads the map from $XDG_CONFIG_HOME/Veltrad.INI.
class OpenPortByNumber : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_old = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", m_dir.Path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_old)
            ::setenv("XDG_CONFIG_HOME", m_old->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    TempDir m_dir;
    std::optional<std::string> m_old;
};

TEST_F(OpenPortByNumber, PortsOutsideOneToFiftyNameNoDevice)
{
    CCommThread comm;
    for (const std::uint16_t port : {std::uint16_t{0}, std::uint16_t{51}}) {
        EXPECT_FALSE(comm.OpenPort(port, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit));
        EXPECT_FALSE(comm.m_bConnected);
        EXPECT_EQ(comm.m_strPortName, FormatPortName(port));
        EXPECT_EQ(comm.LastOpenError(), "COM" + std::to_string(port) + ": no such port (COM1 to COM50)");
    }
}

TEST_F(OpenPortByNumber, MappedDeviceIsOpenedAndNamedTheWindowsWay)
{
    const auto missing = (m_dir.Path() / "nothing").string();
    m_dir.WriteText("Veltrad.INI", "[Ports]\nCOM12=/dev/null\nCOM3=" + missing + "\n");
    CCommThread comm;
    EXPECT_FALSE(comm.OpenPort(12, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit));
    EXPECT_EQ(comm.DevicePath(), "/dev/null");
    EXPECT_EQ(comm.m_strPortName, "\\\\.\\COM12");
    EXPECT_EQ(comm.LastOpenError(), "/dev/null: not a serial device");

    EXPECT_FALSE(comm.OpenPort(3, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit));
    EXPECT_EQ(comm.m_strPortName, "COM3");
    EXPECT_EQ(comm.LastOpenError(), missing + ": no such device");
}

TEST_F(OpenPortByNumber, MappedPseudoTerminalOpens)
{
    test::CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    m_dir.WriteText("Veltrad.INI", "[Ports]\nCOM7=" + pty.SlavePath() + "\n");
    CCommThread comm;
    ASSERT_TRUE(comm.OpenPort(7, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit))
        << comm.LastOpenError();
    EXPECT_TRUE(comm.m_bConnected);
    EXPECT_EQ(comm.m_strPortName, "COM7");
    EXPECT_EQ(comm.DevicePath(), pty.SlavePath());
    EXPECT_EQ(comm.LastOpenError(), "");
}

}  // namespace
}  // namespace veltrad
