#pragma once
// SHA-256 of the image for the run log, from the system's own well-kept
// implementation (Nettle on Linux, CNG on Windows), never one of ours.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace veltrad {

inline constexpr std::size_t kSha256Size = 32;  // bytes of a digest

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Update(const std::uint8_t* data, std::size_t size);
    // The digest of everything given; nullopt when the system could not
    // compute it. Call once.
    std::optional<std::array<std::uint8_t, kSha256Size>> Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The digest in lower-case hex, as the run log and sha256sum write it.
std::string HexDigest(const std::array<std::uint8_t, kSha256Size>& digest);

}  // namespace veltrad
