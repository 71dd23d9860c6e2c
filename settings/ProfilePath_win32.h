#pragma once
// How CProfile::DefaultPath chooses on Windows, given the two folders it asks
// the system for, so that tests can run it on folders of their own.

#include <filesystem>

namespace veltrad {

// `roaming`\Veltrad.INI, first copying a Veltrad.INI left in `windows` (the
// older installations' place) when the roaming folder has none; the old file
// when that copy cannot be made. An empty folder counts as unknown.
std::filesystem::path ProfilePathIn(const std::filesystem::path& roaming, const std::filesystem::path& windows);

}  // namespace veltrad
