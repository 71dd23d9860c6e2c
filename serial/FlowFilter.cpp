#include "serial/FlowFilter.h"

#include "image/Wire.h"

namespace veltrad {

std::size_t CFlowFilter::Filter(std::uint8_t* bytes, std::size_t count)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == kXoffChar)
            m_held = true;
        else if (bytes[i] == kXonChar)
            m_held = false;
        else
            bytes[kept++] = bytes[i];
    }
    return kept;
}

}  // namespace veltrad
