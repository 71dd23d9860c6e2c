// Opening the simulator's line: a new pseudo-terminal, or a device.

#include "serial/CommThread.h"
#include "serial/LineSettings_posix.h"
#include "serial/NotALine_posix.h"
#include "sim/SimulatorImpl.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace veltrad::sim {

namespace {

// Raw 8-bit line at the download speed without flow control of its own:
// frames may carry XON and XOFF, and the simulator sends them itself when
// asked to hold the line. No hardware handshake either, whatever another
// program left on the device; HUPCL stays as found.
bool MakeRaw(int fd, std::string& error)
{
    PortError refused;
    const auto request = MakeLineRequest(kDownloadBaudRate, kDownloadDataBits, kNoParity, kOneStopBit, refused);
    if (!request) {
        error = refused.detail;
        return false;
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, request->speed);
    ::cfsetospeed(&t, request->speed);
    if (RetryOnEintr([&] { return ::tcsetattr(fd, TCSANOW, &t); }) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    return true;
}

}  // namespace

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool CSimulator::Impl::MakeWakeUps(std::string& error)
{
    wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.Valid()) {
        error = Errno("cannot create a wake-up descriptor");
        return false;
    }
    timer.Reset(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!timer.Valid()) {
        error = Errno("cannot create a timer");
        return false;
    }
    return true;
}

std::unique_ptr<CSimulator> CSimulator::CreateOnPty(const SimOptions& options, std::string& error)
{
    auto impl = std::make_unique<Impl>(options);
    impl->line.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!impl->line.Valid()) {
        error = Errno("cannot create a pseudo-terminal");
        return nullptr;
    }
    if (::grantpt(impl->line.Get()) != 0 || ::unlockpt(impl->line.Get()) != 0) {
        error = Errno("cannot unlock the pseudo-terminal");
        return nullptr;
    }
    std::array<char, 128> name{};
    if (::ptsname_r(impl->line.Get(), name.data(), name.size()) != 0) {
        error = Errno("cannot name the pseudo-terminal");
        return nullptr;
    }
    impl->devicePath = name.data();
    impl->slaveHold.Reset(
        RetryOnEintr([&] { return ::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!impl->slaveHold.Valid()) {
        error = Errno("cannot open the pseudo-terminal's device");
        return nullptr;
    }
    // Raw until the program under test sets its own line; the master side
    // of a Linux pty has no line discipline settings of its own to change.
    if (!MakeRaw(impl->slaveHold.Get(), error))
        return nullptr;
    const int flags = ::fcntl(impl->line.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(impl->line.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Errno("cannot make the pseudo-terminal non-blocking");
        return nullptr;
    }
    if (!impl->MakeWakeUps(error))
        return nullptr;
    return std::unique_ptr<CSimulator>(new CSimulator(std::move(impl)));
}

std::unique_ptr<CSimulator> CSimulator::OpenDevice(const std::string& device, const SimOptions& options,
                                                   std::string& error)
{
    // Not the terminal we run in, a console or /dev/ptmx, which would make a
    // pty that nobody can reach.
    struct stat named {};
    if (::stat(device.c_str(), &named) == 0 && S_ISCHR(named.st_mode)) {
        if (const auto reason = NotALine(named.st_rdev)) {
            error = PortError{device, *reason, 0, {}}.Message();
            return nullptr;
        }
    }
    auto impl = std::make_unique<Impl>(options);
    impl->devicePath = device;
    impl->line.Reset(RetryOnEintr([&] { return ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); }));
    if (!impl->line.Valid()) {
        error = Errno(device.c_str());
        return nullptr;
    }
    if (!MakeRaw(impl->line.Get(), error)) {
        error = device + ": " + error;
        return nullptr;
    }
    if (::tcflush(impl->line.Get(), TCIOFLUSH) != 0) {
        error = Errno(device.c_str());
        return nullptr;
    }
    if (!impl->MakeWakeUps(error))
        return nullptr;
    return std::unique_ptr<CSimulator>(new CSimulator(std::move(impl)));
}

}  // namespace veltrad::sim
