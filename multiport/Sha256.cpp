#include "multiport/Sha256.h"

namespace veltrad {

std::string HexDigest(const std::array<std::uint8_t, kSha256Size>& digest)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0x0F];
    }
    return hex;
}

}  // namespace veltrad
