#include "serial/PortMap.h"

#include "base/NoCase.h"
#include "settings/Profile.h"

#include <algorithm>
#include <limits>

namespace veltrad {

std::optional<std::uint16_t> ParseComName(std::string_view name)
{
    // Windows' device namespace and its old device suffix name the same port.
    if (name.starts_with(kDeviceNamespace))
        name.remove_prefix(sizeof kDeviceNamespace - 1);
    if (name.ends_with(':'))
        name.remove_suffix(1);
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3), "COM"))
        return std::nullopt;
    constexpr unsigned kMax = std::numeric_limits<std::uint16_t>::max();
    unsigned number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9')
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
