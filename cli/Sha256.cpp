#include "cli/Sha256.h"

#include "image/Utf8Path.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace veltrad::cli {

std::optional<std::string> Sha256OfFile(const std::filesystem::path& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = Utf8FromPath(path) + ": " + std::strerror(errno);
        return std::nullopt;
    }
    CSha256 sha;
    std::vector<char> buffer(1 << 16);
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        sha.Update(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad()) {
        error = Utf8FromPath(path) + ": read failed";
        return std::nullopt;
    }
    const auto digest = sha.Finish();
    if (!digest) {
        error = Utf8FromPath(path) + ": the system's SHA-256 is not available";
        return std::nullopt;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t b : *digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0x0F];
    }
    return hex;
}

}  // namespace veltrad::cli
