#pragma once
// What the simulated terminal saw and answered: one record per frame-sized
// reception, the counters, and the data it accepted. Plain values, no locks:
// the simulator guards its recording itself.

#include "image/Wire.h"
#include "sim/SimTypes.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace veltrad::sim {

class CRecording {
public:
    SimCounters counters;
    std::vector<FrameRecord> frames;

    // Takes the data of an accepted frame; a later block at the same address replaces it.
    void Accept(std::uint32_t address, const std::uint8_t* block);

    // Accepted data from the lowest address on, gaps zero-filled.
    ReceivedImage Image() const;

    // "frames N, refusals R, bytes B, base 0xXXXXXXXX", and once the line has
    // been held ", bytes while held H".
    std::string Summary() const;

private:
    std::map<std::uint32_t, std::array<std::uint8_t, kBlockSize>> m_blocks;
};

// Writes `image.bytes` to `file`; false with `error` set when it cannot.
bool WriteImageFile(const ReceivedImage& image, const std::string& file, std::string& error);

}  // namespace veltrad::sim
