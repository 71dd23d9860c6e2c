#include "multiport/Sha256.h"

#include <nettle/sha2.h>

namespace veltrad {

struct CSha256::Impl {
    sha256_ctx context;
};

CSha256::CSha256() : m_impl(std::make_unique<Impl>()) { sha256_init(&m_impl->context); }

CSha256::~CSha256() = default;

void CSha256::Update(const std::uint8_t* data, std::size_t size) { sha256_update(&m_impl->context, size, data); }

std::optional<std::array<std::uint8_t, kSha256Size>> CSha256::Finish()
{
    static_assert(SHA256_DIGEST_SIZE == kSha256Size);
    std::array<std::uint8_t, kSha256Size> digest{};
    sha256_digest(&m_impl->context, digest.size(), digest.data());
    return digest;
}

}  // namespace veltrad
