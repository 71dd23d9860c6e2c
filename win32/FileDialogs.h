#pragma once
// The system's file and folder dialogs, owned by the window that takes input.

#include "win32/WinApi.h"

#include <filesystem>
#include <optional>

namespace veltrad {

enum class FileDialog { Open, Save };

// `filter` in the dialogs' form: "Name\0*.ext\0...\0". The current folder
// follows the chosen file. Nullopt when cancelled or closed.
std::optional<std::filesystem::path> ChooseFile(HWND owner, FileDialog kind, const wchar_t* filter,
                                                const std::filesystem::path& initial = {},
                                                const wchar_t* defaultExtension = nullptr);

// A folder, starting at `initial`; needs COM on the calling thread.
std::optional<std::filesystem::path> ChooseFolder(HWND owner, const std::filesystem::path& initial);

}  // namespace veltrad
