#include "multiport/Sha256.h"

#include "platform/Windows_win32.h"

#include <bcrypt.h>

namespace veltrad {

// CNG handles; either stays null when the system refused it, and the digest
// is then reported as unavailable.
struct CSha256::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;
};

CSha256::CSha256() : m_impl(std::make_unique<Impl>())
{
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&m_impl->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        m_impl->algorithm = nullptr;
        m_impl->failed = true;
        return;
    }
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(m_impl->algorithm, &m_impl->hash, nullptr, 0, nullptr, 0, 0))) {
        m_impl->hash = nullptr;
        m_impl->failed = true;
    }
}

CSha256::~CSha256()
{
    if (m_impl->hash)
        ::BCryptDestroyHash(m_impl->hash);
    if (m_impl->algorithm)
        ::BCryptCloseAlgorithmProvider(m_impl->algorithm, 0);
}

void CSha256::Update(const std::uint8_t* data, std::size_t size)
{
    // CNG takes 32-bit lengths.
    while (!m_impl->failed && size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(::BCryptHashData(m_impl->hash, const_cast<PUCHAR>(data), chunk, 0)))
            m_impl->failed = true;
        data += chunk;
        size -= chunk;
    }
}

std::optional<std::array<std::uint8_t, kSha256Size>> CSha256::Finish()
{
    std::array<std::uint8_t, kSha256Size> digest{};
    if (m_impl->failed ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(m_impl->hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace veltrad
