#include "sim/Recording.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace veltrad::sim {

void CRecording::Accept(std::uint32_t address, const std::uint8_t* block)
{
    std::copy_n(block, kBlockSize, m_blocks[address].begin());
}

ReceivedImage CRecording::Image() const
{
    ReceivedImage image;
    if (m_blocks.empty())
        return image;
    image.baseAddress = m_blocks.begin()->first;
    const std::uint64_t end = std::uint64_t{m_blocks.rbegin()->first} + kBlockSize;
    image.bytes.assign(static_cast<std::size_t>(end - image.baseAddress), 0);
    for (const auto& [address, block] : m_blocks)
        std::copy(block.begin(), block.end(), image.bytes.begin() + (address - image.baseAddress));
    return image;
}

std::string CRecording::Summary() const
{
    const std::size_t bytes =
        m_blocks.empty()
            ? 0
            : static_cast<std::size_t>(std::uint64_t{m_blocks.rbegin()->first} + kBlockSize - m_blocks.begin()->first);
    const std::uint32_t base = m_blocks.empty() ? 0 : m_blocks.begin()->first;
    std::array<char, 160> line{};
    std::snprintf(line.data(), line.size(), "frames %zu, refusals %zu, bytes %zu, base 0x%08X", counters.framesAccepted,
                  counters.refusals, bytes, static_cast<unsigned>(base));
    std::string summary = line.data();
    if (counters.holds > 0)
        summary += ", bytes while held " + std::to_string(counters.bytesWhileHeld);
    return summary;
}

bool WriteImageFile(const ReceivedImage& image, const std::string& file, std::string& error)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = file + ": " + std::strerror(errno);
        return false;
    }
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) {
        error = file + ": write failed";
        return false;
    }
    return true;
}

}  // namespace veltrad::sim
