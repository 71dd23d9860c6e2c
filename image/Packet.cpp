#include "image/Packet.h"

#include <algorithm>

namespace veltrad {

std::uint8_t FrameChecksum(const std::array<std::uint8_t, kFrameSize>& frame)
{
    std::uint8_t sum = 0;
    for (std::size_t i = kFrameAddressOffset; i < kFrameEtxOffset; ++i)
        sum ^= frame[i];
    return sum;
}

void FillFrame(std::array<std::uint8_t, kFrameSize>& frame, std::uint32_t address,
               const std::array<std::uint8_t, kBlockSize>& block)
{
    frame[0] = kStx;
    for (std::size_t i = 0; i < 4; ++i)
        frame[kFrameAddressOffset + i] = static_cast<std::uint8_t>(address >> (8 * i));
    std::copy(block.begin(), block.end(), frame.begin() + kFrameDataOffset);
    frame[kFrameEtxOffset] = kEtx;
    frame[kFrameChecksumOffset] = FrameChecksum(frame);
}

std::uint32_t FrameAddress(const std::array<std::uint8_t, kFrameSize>& frame)
{
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < 4; ++i)
        address |= static_cast<std::uint32_t>(frame[kFrameAddressOffset + i]) << (8 * i);
    return address;
}

}  // namespace veltrad
