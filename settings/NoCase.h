#pragma once
// Settings names and port names compare without the case of ASCII letters,
// as Windows compares them.

#include <algorithm>
#include <cctype>
#include <string_view>

namespace veltrad {

inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace veltrad
