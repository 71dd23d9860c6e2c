#pragma once
// The download line as termios settings: built from the caller's framing on
// top of what the port reported, and checked against what the driver kept.

#include "serial/PortError.h"

#include <termios.h>

#include <cstdint>
#include <optional>

namespace veltrad {

// The framing the caller asked for, as termios bits.
struct LineRequest {
    speed_t speed = B0;  // set from the caller's rate
    tcflag_t size = CS8;
    tcflag_t parity = 0;  // PARENB, PARODD, CMSPAR bits
    tcflag_t stop = 0;    // CSTOPB or 0
};

// Fills `error` (reason LineSettings) when the framing has no termios form.
std::optional<LineRequest> MakeLineRequest(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                                           std::uint8_t stopBits, PortError& error);

// Raw binary line with XON/XOFF both ways (output XON/XOFF left to the caller
// when `kernelStopsOutput` is false) and no hardware handshake. Every other
// setting stays as the port reported it; HUPCL among them, which other
// programs rely on.
termios DownloadSettings(termios reported, const LineRequest& request, bool kernelStopsOutput);

// The same line with nothing that can hold output back: neither XOFF nor CTS.
termios UnheldSettings(termios settings);

// What the driver refused of `want`; reason None when it kept everything.
// A pseudo-terminal always carries 8-bit bytes without parity: it holds the
// 8N1 download framing, and any other framing is reported, not pretended.
PortError CheckSettings(const termios& want, const termios& got, bool pty);

// True for the slave side of a Unix98 pseudo-terminal.
bool IsPseudoTerminal(int fd);

}  // namespace veltrad
