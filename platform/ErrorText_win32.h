#pragma once
// The system's own words for a Win32 error code, in UTF-8: asked for as
// UTF-16 (FormatMessageW), so a message in the user's language survives
// whatever the ANSI code page is.

#include "platform/Windows_win32.h"

#include <string>

namespace veltrad {

// The message without its trailing line break and full stop; "" when the
// system has none for `code`.
inline std::string Win32ErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide;
    if (length != 0 && text != nullptr)
        wide.assign(text, length);
    if (text != nullptr)
        ::LocalFree(text);
    while (!wide.empty() &&
           (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' || wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

}  // namespace veltrad
