#pragma once
// Why a pass over the image file failed.

#include <filesystem>
#include <string>

namespace veltrad {

// `path` names the file, `reason` says why in words an operator understands.
struct ImageError {
    std::filesystem::path path;
    std::string reason;
    int errnum = 0;        // errno of the failing call, 0 when the failure is not an OS error
    bool stopped = false;  // the pass was stopped on request; the file is not at fault

    std::string Message() const;  // "<path>: <reason>"
};

}  // namespace veltrad
