#include "serial/LineSettings_posix.h"

#include "serial/CommThread.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>

namespace veltrad {

namespace {

// DCB parity and stop-bit codes beyond the defaults in CommThread.h.
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kSpaceParity = 4;
constexpr std::uint8_t kTwoStopBits = 2;

// Unix98 pseudo-terminal slaves (/dev/pts/N) use these majors.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

std::optional<speed_t> BaudConstant(std::uint32_t baud)
{
    struct Entry {
        std::uint32_t rate;
        speed_t constant;
    };
    static constexpr Entry kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
    };
    for (const auto& e : kRates)
        if (e.rate == baud)
            return e.constant;
    return std::nullopt;
}

PortError Refused(std::string what)
{
    PortError error;
    error.reason = PortErrorReason::LineSettings;
    error.detail = std::move(what);
    return error;
}

}  // namespace

std::optional<LineRequest> MakeLineRequest(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                                           std::uint8_t stopBits, PortError& error)
{
    LineRequest req;
    if (auto speed = BaudConstant(baudRate))
        req.speed = *speed;
    else {
        error = Refused("unsupported baud rate " + std::to_string(baudRate));
        return std::nullopt;
    }
    switch (dataBits) {
    case 5: req.size = CS5; break;
    case 6: req.size = CS6; break;
    case 7: req.size = CS7; break;
    case 8: req.size = CS8; break;
    default: error = Refused("unsupported data bits " + std::to_string(dataBits)); return std::nullopt;
    }
    switch (parity) {
    case kNoParity: req.parity = 0; break;
    case kOddParity: req.parity = PARENB | PARODD; break;
    case kEvenParity: req.parity = PARENB; break;
    case kMarkParity: req.parity = PARENB | CMSPAR | PARODD; break;
    case kSpaceParity: req.parity = PARENB | CMSPAR; break;
    default: error = Refused("unsupported parity code " + std::to_string(parity)); return std::nullopt;
    }
    switch (stopBits) {
    case kOneStopBit: req.stop = 0; break;
    case kTwoStopBits: req.stop = CSTOPB; break;
    default:  // 1.5 stop bits has no termios form
        error = Refused("unsupported stop-bit code " + std::to_string(stopBits));
        return std::nullopt;
    }
    return req;
}

termios DownloadSettings(termios t, const LineRequest& req, bool kernelStopsOutput)
{
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXANY |
                                        IMAXBEL | IXON);
    t.c_iflag |= IXOFF | (kernelStopsOutput ? IXON : 0);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // A handshake left on by another program would stop every byte on a
    // three-wire cable; on FTDI chips it also turns their XON/XOFF off.
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= req.size | req.parity | req.stop | CLOCAL | CREAD;
    t.c_cc[VSTART] = kXonChar;
    t.c_cc[VSTOP] = kXoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, req.speed);
    cfsetospeed(&t, req.speed);
    return t;
}

termios UnheldSettings(termios t)
{
    t.c_iflag &= ~static_cast<tcflag_t>(IXON);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    return t;
}

PortError CheckSettings(const termios& want, const termios& got, bool pty)
{
    constexpr tcflag_t kInputBits = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK;
    constexpr tcflag_t kLocalBits = ICANON | ECHO | ISIG | IEXTEN;
    constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;
    if (cfgetospeed(&got) != cfgetospeed(&want) || cfgetispeed(&got) != cfgetispeed(&want))
        return Refused("the driver refused the baud rate");
    if ((got.c_cflag & kFramingBits) != (want.c_cflag & kFramingBits))
        return Refused(pty ? "a pseudo-terminal carries only 8 data bits without parity"
                           : "the driver refused the data bits or parity");
    if ((got.c_cflag & CSTOPB) != (want.c_cflag & CSTOPB))
        return Refused("the driver refused the stop bits");
    if ((got.c_cflag & CRTSCTS) != (want.c_cflag & CRTSCTS))
        return Refused("the driver kept the hardware handshake on");
    if ((got.c_cflag & (CLOCAL | CREAD)) != (want.c_cflag & (CLOCAL | CREAD)))
        return Refused("the driver refused to ignore the modem lines or to receive");
    if ((got.c_iflag & kInputBits) != (want.c_iflag & kInputBits) || (got.c_oflag & OPOST) ||
        (got.c_lflag & kLocalBits) != (want.c_lflag & kLocalBits))
        return Refused("the driver refused raw mode with XON/XOFF");
    if (got.c_cc[VSTART] != kXonChar || got.c_cc[VSTOP] != kXoffChar || got.c_cc[VMIN] != 0 || got.c_cc[VTIME] != 0)
        return Refused("the driver refused the XON/XOFF or read settings");
    return {};
}

bool IsPseudoTerminal(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return maj >= kPtySlaveMajorFirst && maj <= kPtySlaveMajorLast;
}

}  // namespace veltrad
