#pragma once
// errno out of a std::error_code, for values that carry the system's reason
// as a number: the library's codes on Windows are the system's own, most of
// which have an errno equivalent.

#include <cerrno>
#include <system_error>

namespace veltrad {

// The errno `ec` stands for; EIO where it has none.
inline int ErrnoOf(const std::error_code& ec)
{
    const std::error_condition condition = ec.default_error_condition();
    return condition.category() == std::generic_category() ? condition.value() : EIO;
}

}  // namespace veltrad
