// Low-latency mode on real ports: tolerated where the driver knows no such
// thing (a pseudo-terminal), requested and put back on a UART.

#include "serial/CommThread.h"

#include "TestPty.h"
#include "serial/NotALine_posix.h"
#include "serial/Sysfs_posix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {
namespace {

TEST(LowLatency, APseudoTerminalRefusesItAndStillOpens)
{
    test::CTestPty pty;
    ASSERT_TRUE(pty.Valid());
    CCommThread comm;
    ASSERT_TRUE(test::OpenDownload(comm, pty.SlavePath())) << comm.LastOpenError();
    const AdapterInfo info = comm.Adapter();
    EXPECT_FALSE(info.lowLatencyGranted);
    EXPECT_EQ(info.driver, "");
    EXPECT_FALSE(info.latencyTimerMs.has_value());
    comm.ClosePort();
}

// The first /dev/ttyS* with a UART behind it that this user may open and
// that is no console (which the port refuses).
std::optional<std::string> UartDevice()
{
    const std::vector<dev_t> consoles = ActiveConsoles();
    for (int n = 0; n < 32; ++n) {
        const std::string name = "ttyS" + std::to_string(n);
        const std::string type = sysfs::ReadAttribute("/sys/class/tty/" + name + "/type");
        struct stat st {};
        if (!type.empty() && type != "0" && ::access(("/dev/" + name).c_str(), R_OK | W_OK) == 0 &&
            ::stat(("/dev/" + name).c_str(), &st) == 0 &&
            std::find(consoles.begin(), consoles.end(), st.st_rdev) == consoles.end())
            return "/dev/" + name;
    }
    return std::nullopt;
}

std::optional<int> SerialFlags(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return std::nullopt;
    return serial.flags;
}

TEST(LowLatency, AUartTakesItWhileOpenAndGetsItsFlagsBackAtTheClose)
{
    const auto device = UartDevice();
    if (!device)
        GTEST_SKIP() << "no /dev/ttyS* with a UART (sysfs type not 0) that this user may open";
    // Opened before the port takes the device exclusively.
    CUniqueFd probe(::open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(probe.Valid());
    const auto before = SerialFlags(probe.Get());
    ASSERT_TRUE(before.has_value());

    CCommThread comm;
    ASSERT_TRUE(test::OpenDownload(comm, *device)) << comm.LastOpenError();
    const auto during = SerialFlags(probe.Get());
    ASSERT_TRUE(during.has_value());
    EXPECT_TRUE(*during & ASYNC_LOW_LATENCY);
    EXPECT_TRUE(comm.Adapter().lowLatencyGranted);
    EXPECT_NE(comm.Adapter().driver, "");
    comm.ClosePort();

    EXPECT_EQ(SerialFlags(probe.Get()), before);
    EXPECT_TRUE(comm.Adapter().lowLatencyGranted) << "what the open found stays readable";
}

}  // namespace
}  // namespace veltrad
