#pragma once
// The nodes of the block list and of the frame list. A block node carries a
// 128-byte slice of the image file; a frame node carries the 135 bytes that go
// on the line for one block, which hold the block itself, so a frame node
// keeps no second copy of it.

#include "image/Wire.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace veltrad {

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
