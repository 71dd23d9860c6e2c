#pragma once
// Which device a port number names on a system without COM names. The
// settings file may name a device per port (section "Ports", key "COM<n>");
// otherwise COM1..COM32 are the on-board ports /dev/ttyS0..31 and
// COM33..COM50 the USB adapters /dev/ttyUSB0..17.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace veltrad {

inline constexpr std::uint16_t kFirstPort = 1;
inline constexpr std::uint16_t kLastPort = 50;
inline constexpr std::uint16_t kLastOnBoardPort = 32;  // COM1..COM32 are ttyS0..ttyS31

inline constexpr char kPortsSection[] = "Ports";

// The built-in device for `port`; nullopt for 0 and numbers above 50.
std::optional<std::string> DefaultPortDevice(std::uint16_t port);

// The device for `port` from the settings file `settingsFile`, falling back
// to DefaultPortDevice; nullopt for 0 and numbers above 50. An empty value
// in the file counts as no entry.
std::optional<std::string> ResolvePortDevice(std::uint16_t port, const std::filesystem::path& settingsFile);

}  // namespace veltrad
