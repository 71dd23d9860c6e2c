#pragma once
// Names that compare without the case of ASCII letters, as Windows compares
// them: settings sections and keys, port names, device ids. Letters outside
// ASCII compare as they are, whatever the locale.

#include <algorithm>
#include <string_view>

namespace veltrad {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

}  // namespace veltrad
