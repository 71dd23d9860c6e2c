#pragma once
// Which device each port number (COM1 = 1 ... COM50 = 50) opens. The owner
// of the settings builds the map once from its profile and hands the same
// map to the port and to whatever lists devices, so both agree; the serial
// layer never reads the settings file itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrad {

class CProfile;

inline constexpr std::uint16_t kFirstPort = 1;
inline constexpr std::uint16_t kLastPort = 50;
inline constexpr std::uint16_t kLastOnBoardPort = 32;  // COM1..COM32 are ttyS0..ttyS31

inline constexpr char kPortsSection[] = "Ports";

// The built-in device for `port`; nullopt for 0 and numbers above 50.
// Linux: COM1..COM32 are the on-board ports /dev/ttyS0..31, COM33..COM50
// the USB adapters /dev/ttyUSB0..17. Windows: "COM1".."COM9", then the
// device-namespace form "\\.\COM10".."\\.\COM50" that it requires from 10 up.
std::optional<std::string> DefaultPortDevice(std::uint16_t port);

// Windows' prefix of device names: "\\.\COM10".
inline constexpr char kDeviceNamespace[] = "\\\\.\\";

// The number of a "COMn" name (any case, one digit or more, leading zeros
// too), also written "COMn:" or "\\.\COMn" as Windows takes it; saturated
// at 65535 so that a long number never wraps into the list; nullopt for any
// other text.
std::optional<std::uint16_t> ParseComName(std::string_view name);

class CPortMap {
public:
    // The built-in devices only.
    CPortMap() = default;

    // Sends `port` to `device` instead of its built-in one; an empty device
    // restores the built-in one, and numbers outside 1..50 are ignored. On
    // Windows a "COMn" device is kept in the form that opens it.
    void Override(std::uint16_t port, std::string device);

    // The device `port` opens; nullopt for 0 and numbers above 50.
    std::optional<std::string> Device(std::uint16_t port) const;

    // Whether `port` has an override.
    bool Overridden(std::uint16_t port) const;

    friend bool operator==(const CPortMap&, const CPortMap&) = default;

private:
    // The form of a configured device that opens it (per platform).
    static std::string CanonicalDevice(std::string device);

    std::array<std::string, kLastPort> m_overrides;  // index port - 1; empty: built-in
};

// The map the [Ports] section of `profile` describes (key "COM<n>", value
// the device); an empty value counts as no entry.
CPortMap PortMapFromProfile(const CProfile& profile);

}  // namespace veltrad
