// Which names open one port: the same on Linux (the device number, over
// pseudo-terminals) and on Windows (the names' one form, under Wine).

#include "serial/PortIdentity.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veltrad {
namespace {

// Names in one group open one port; no two groups open the same.
void ExpectGroups(const std::vector<std::vector<std::string>>& groups, const CPortMap& ports)
{
    std::vector<std::string> identities;
    for (const auto& group : groups) {
        const auto first = ResolvePort(group.front(), ports);
        ASSERT_TRUE(first.has_value()) << group.front();
        for (const std::string& name : group) {
            const auto target = ResolvePort(name, ports);
            ASSERT_TRUE(target.has_value()) << name;
            EXPECT_EQ(target->identity, first->identity) << name << " and " << group.front();
        }
        for (const std::string& other : identities)
            EXPECT_NE(first->identity, other) << group.front();
        identities.push_back(first->identity);
    }
}

TEST(PortIdentity, ACOMNumberOutsideTheListIsNoPort)
{
    CPortMap ports;
    ports.Override(50, "/dev/ttyACM0");
    ports.Override(51, "/dev/ttyACM1");  // ignored: there is no COM51
    for (const char* name : {"COM0", "COM51", "com51", "COM65537", "COM99999999999", ""})
        EXPECT_EQ(ResolvePort(name, ports), std::nullopt) << name;
    const auto mapped = ResolvePort("COM50", ports);
    ASSERT_TRUE(mapped.has_value());
    EXPECT_EQ(mapped->device, "/dev/ttyACM0");
    EXPECT_EQ(ResolvePort("/dev/ttyACM1", ports)->device, "/dev/ttyACM1") << "a device path opens as written";
}

#ifdef _WIN32
TEST(PortIdentity, WindowsNamesAPortInOneForm)
{
    CPortMap ports;
    ports.Override(5, "COM7");
    ports.Override(6, "\\\\.\\CNCA0");
    ExpectGroups({{"COM3", "com3", "COM03", "COM3:", "\\\\.\\COM3", "\\\\.\\com03:"},
                  {"COM30"},
                  {"COM10", "\\\\.\\COM10", "COM10:"},
                  {"COM7", "COM5", "\\\\.\\COM7"},
                  {"COM6", "\\\\.\\cnca0", "CNCA0"},
                  {"\\\\.\\CNCB0"}},
                 ports);
}
#else
TEST(PortIdentity, LinuxGoesByTheDeviceNumberOfWhatANameOpens)
{
    test::TempDir dir;
    const auto pty = [] {
        const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::unlockpt(fd), 0);
        return std::pair{fd, std::string(::ptsname(fd))};
    };
    const auto [fdA, a] = pty();
    const auto [fdB, b] = pty();
    std::filesystem::create_symlink(a, dir / "kv9090");
    CPortMap ports;
    ports.Override(7, a);
    ports.Override(8, (dir / "kv9090").string());

    std::vector<std::string> sameAsA = {a, "COM7", "com07", "COM8", (dir / "kv9090").string()};
    // A second device node of the tty (as a bind mount would show it); root only.
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    if (::mknod((dir / "node").c_str(), S_IFCHR | 0600, st.st_rdev) == 0)
        sameAsA.push_back((dir / "node").string());
    // Names that open nothing now go by the name.
    ExpectGroups({sameAsA, {b}, {"COM50", "/dev/ttyUSB17", "/dev/../dev/ttyUSB17"}, {"COM1"}}, ports);
    ::close(fdA);
    ::close(fdB);
}
#endif

}  // namespace
}  // namespace veltrad
