#pragma once
// The core speaks UTF-8, the W functions UTF-16.

#include <string>
#include <string_view>

namespace veltrad {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace veltrad
