#pragma once
// New files for the settings rewrite: created exclusively, so an existing file
// or a link planted under the name is never opened, followed or truncated.

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace veltrad {

// Creates `path`, which must not exist in any form (a dangling link counts),
// writes `content` and flushes it to the disk. False with `ec` set when it
// cannot; a file it created is removed again then. One implementation per
// platform.
bool WriteNewFile(const std::filesystem::path& path, std::string_view content, std::error_code& ec);

// False when the folder's own marks refuse new files. Windows does not
// honour a folder's read-only attribute (the shell uses it to mark folders
// it customises), so there only the create itself decides.
bool FolderTakesNewFiles(const std::filesystem::path& folder);

// WriteNewFile under a fresh name in the folder of `target`, made of the
// target's name, a random part and ".tmp": a sibling that can then be renamed
// over the target. The created file's path, or nullopt with `ec` set.
std::optional<std::filesystem::path> WriteNewSibling(const std::filesystem::path& target, std::string_view content,
                                                     std::error_code& ec);

}  // namespace veltrad
