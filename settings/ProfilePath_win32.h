#pragma once
// How CProfile::DefaultPath chooses on Windows, given the folders it asks the
// system for, so that tests can run it on folders of their own.

#include <filesystem>
#include <vector>

namespace veltrad {

// `roaming`\Veltrad.INI, first copying the Veltrad.INI found in the first of
// `olderFolders` that has one (the older installations' places) when the
// roaming folder has none; that old file when the copy cannot be made. An
// empty folder counts as unknown.
std::filesystem::path ProfilePathIn(const std::filesystem::path& roaming,
                                    const std::vector<std::filesystem::path>& olderFolders);

// The folder that file virtualization uses in place of `windows`.
std::filesystem::path VirtualStoreOf(const std::filesystem::path& localAppData, const std::filesystem::path& windows);

}  // namespace veltrad
