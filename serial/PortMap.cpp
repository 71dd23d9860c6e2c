#include "serial/PortMap.h"

#include "settings/Profile.h"

#include <cctype>
#include <limits>

namespace veltrad {

std::optional<std::uint16_t> ParseComName(std::string_view name)
{
    if (name.size() < 4)
        return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return std::nullopt;
    }
    constexpr unsigned kMax = std::numeric_limits<std::uint16_t>::max();
    unsigned number = 0;
    for (const char c : name.substr(3)) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        number = std::min(number * 10 + static_cast<unsigned>(c - '0'), kMax);
    }
    return static_cast<std::uint16_t>(number);
}

void CPortMap::Override(std::uint16_t port, std::string device)
{
    if (port >= kFirstPort && port <= kLastPort)
        m_overrides[port - kFirstPort] = CanonicalDevice(std::move(device));
}

std::optional<std::string> CPortMap::Device(std::uint16_t port) const
{
    if (Overridden(port))
        return m_overrides[port - kFirstPort];
    return DefaultPortDevice(port);
}

bool CPortMap::Overridden(std::uint16_t port) const
{
    return port >= kFirstPort && port <= kLastPort && !m_overrides[port - kFirstPort].empty();
}

CPortMap PortMapFromProfile(const CProfile& profile)
{
    CPortMap map;
    for (std::uint16_t port = kFirstPort; port <= kLastPort; ++port) {
        if (auto device = profile.GetProfileString(kPortsSection, "COM" + std::to_string(port)))
            map.Override(port, std::move(*device));
    }
    return map;
}

}  // namespace veltrad
