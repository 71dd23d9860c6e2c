#pragma once
// A pseudo-terminal for the serial tests: the test plays the far end of the
// line on the master side; the port object opens the slave device.

#include "serial/CommThread.h"
#include "serial/PosixIo.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace veltrad::test {

// Opens `device` with the line settings of a download.
inline bool OpenDownload(CCommThread& comm, const std::string& device)
{
    return comm.OpenDevice(device, kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit);
}

// Descriptors this process holds now.
inline std::size_t OpenDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

inline const char* XoffHandlingName(XoffHandling how) { return how == XoffHandling::Auto ? "KernelXoff" : "OwnXoff"; }

class CTestPty {
public:
    CTestPty()
    {
        m_master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        std::array<char, 128> name{};
        if (!m_master.Valid() || ::grantpt(m_master.Get()) != 0 || ::unlockpt(m_master.Get()) != 0 ||
            ::ptsname_r(m_master.Get(), name.data(), name.size()) != 0) {
            m_master.Reset();
            return;
        }
        m_slavePath = name.data();
        // Keeps the slave alive while the port object opens and closes it,
        // as a device node would be.
        m_slaveHold.Reset(::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        termios t{};
        if (!m_slaveHold.Valid() || ::tcgetattr(m_slaveHold.Get(), &t) != 0) {
            m_master.Reset();
            return;
        }
        ::cfmakeraw(&t);
        ::tcsetattr(m_slaveHold.Get(), TCSANOW, &t);
    }

    bool Valid() const { return m_master.Valid(); }
    const std::string& SlavePath() const { return m_slavePath; }
    int Master() const { return m_master.Get(); }

    // Closes the master: the slave hangs up, like a pulled USB adapter.
    void Vanish()
    {
        m_slaveHold.Reset();
        m_master.Reset();
    }

    bool Send(const std::vector<std::uint8_t>& bytes) const
    {
        return RetryOnEintr([&] { return ::write(m_master.Get(), bytes.data(), bytes.size()); }) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes arrived or `timeout` passed.
    std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::vector<std::uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_master.Get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::array<std::uint8_t, 512> buffer{};
            const auto want = std::min(buffer.size(), count - got.size());
            const ssize_t n = RetryOnEintr([&] { return ::read(m_master.Get(), buffer.data(), want); });
            if (n <= 0)
                break;
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        return got;
    }

    // Reads and drops whatever the port has sent so far.
    void Discard() const
    {
        std::array<std::uint8_t, 512> buffer{};
        pollfd p{m_master.Get(), POLLIN, 0};
        while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) &&
               RetryOnEintr([&] { return ::read(m_master.Get(), buffer.data(), buffer.size()); }) > 0) {
        }
    }

    // Waits until the slave has input queued, whoever has it open.
    bool SlaveHasInput(std::chrono::milliseconds timeout) const
    {
        pollfd p{m_slaveHold.Get(), POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1 && (p.revents & POLLIN);
    }

    // Puts the slave in exclusive mode, or out of it, as another program would.
    bool SetSlaveExclusive(bool exclusive) const
    {
        return ::ioctl(m_slaveHold.Get(), exclusive ? TIOCEXCL : TIOCNXCL) == 0;
    }

    // Whether the slave is in exclusive mode (TIOCEXCL), whoever set it.
    bool SlaveExclusive() const
    {
        int exclusive = 0;
        return ::ioctl(m_slaveHold.Get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    }

    // The slave's line settings as the driver holds them (a pty master
    // reads its slave's settings).
    termios SlaveSettings() const
    {
        termios t{};
        ::tcgetattr(m_master.Get(), &t);
        return t;
    }

private:
    CUniqueFd m_master;
    CUniqueFd m_slaveHold;
    std::string m_slavePath;
};

// XOFF from the far end; returns once `comm` has taken it, which the marker
// behind it shows.
inline void HoldLine(CTestPty& pty, CCommThread& comm)
{
    ASSERT_TRUE(pty.Send({kXoffChar, 'M'}));
    ASSERT_TRUE(comm.WaitForInput(std::chrono::seconds(2)));
    std::uint8_t marker = 0;
    ASSERT_EQ(comm.ReadComm(&marker, 1), 1u);
    ASSERT_EQ(marker, 'M') << "XOFF must be taken as flow control, not data";
}

}  // namespace veltrad::test
