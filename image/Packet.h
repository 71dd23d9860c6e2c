#pragma once
// The nodes of the block list and of the frame list. A block node carries a
// 128-byte slice of the image file; a frame node carries the 135 bytes that go
// on the line for one block, which hold the block itself, so a frame node
// keeps no second copy of it.

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltrad {

inline constexpr std::size_t kBlockSize = 128;  // bytes of file data per frame
inline constexpr std::size_t kFrameSize = 135;  // STX + 4 address + 128 data + ETX + checksum

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;

// Offsets inside a frame.
inline constexpr std::size_t kFrameAddressOffset = 1;    // 4 bytes, least significant first
inline constexpr std::size_t kFrameDataOffset = 5;       // 128 bytes
inline constexpr std::size_t kFrameEtxOffset = 133;
inline constexpr std::size_t kFrameChecksumOffset = 134; // XOR of bytes 1..132

// A node of the block list.
struct CBlockPacket {
    std::array<std::uint8_t, kBlockSize> m_byBlock;  // filled whole by the reading pass
};

// A node of the frame list.
struct CPacket {
    std::array<std::uint8_t, kFrameSize> m_byFrame{};  // all zero after construction
};

// XOR of the address and data bytes of a frame (bytes 1 to 132).
std::uint8_t FrameChecksum(const std::array<std::uint8_t, kFrameSize>& frame);

// Fills a frame for the block at file offset `address`.
void FillFrame(std::array<std::uint8_t, kFrameSize>& frame, std::uint32_t address,
               const std::array<std::uint8_t, kBlockSize>& block);

// Address carried by a frame.
std::uint32_t FrameAddress(const std::array<std::uint8_t, kFrameSize>& frame);

}  // namespace veltrad
