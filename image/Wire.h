#pragma once
// What travels on the line between the PC and the terminal, named once: the
// line's framing and speed, the frame's layout and the control bytes. Every
// layer that builds, sends, answers or times frames takes them from here.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace veltrad {

// The line: 8 data bits, no parity, one stop bit.
inline constexpr std::uint32_t kDownloadBaudRate = 115200;  // bits per second
inline constexpr std::uint8_t kDownloadDataBits = 8;        // data bits per character
inline constexpr std::uint32_t kBitsPerByteOnLine = 10;     // bits per byte: start, 8 data, stop
// Time one byte occupies the line (86.8 us).
inline constexpr std::chrono::nanoseconds kByteTimeOnLine{kBitsPerByteOnLine * 1'000'000'000LL / kDownloadBaudRate};

// A frame: STX, 4 address bytes, 128 data bytes, ETX, checksum.
inline constexpr std::size_t kBlockSize = 128;  // bytes of file data per frame
inline constexpr std::size_t kFrameSize = 135;  // bytes per frame on the line
inline constexpr std::uint8_t kStx = 0x02;      // first byte of a frame
inline constexpr std::uint8_t kEtx = 0x03;      // byte after the data

// Offsets inside a frame, in bytes.
inline constexpr std::size_t kFrameAddressOffset = 1;  // 4 bytes, least significant first
inline constexpr std::size_t kFrameDataOffset = 5;     // kBlockSize bytes
inline constexpr std::size_t kFrameEtxOffset = 133;
inline constexpr std::size_t kFrameChecksumOffset = 134;  // XOR of bytes 1..132

// Time one frame occupies the line, in microseconds (11718 us).
inline constexpr std::uint32_t kFrameLineTimeUs =
    static_cast<std::uint32_t>(kFrameSize * kBitsPerByteOnLine * 1'000'000ULL / kDownloadBaudRate);

// The terminal's replies to a frame. The sender takes any byte other than
// kAck as a refusal; kNak is the one the terminal itself sends.
inline constexpr std::uint8_t kAck = 0x06;  // the frame last written was accepted
inline constexpr std::uint8_t kNak = 0x15;  // the frame was refused

// The closing sequence: kEotCount separate kEot bytes after the last ACK.
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr int kEotCount = 3;

// Software flow control, both ways.
inline constexpr std::uint8_t kXonChar = 0x11;   // resume sending
inline constexpr std::uint8_t kXoffChar = 0x13;  // stop sending

}  // namespace veltrad
