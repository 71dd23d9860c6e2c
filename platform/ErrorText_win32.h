#pragma once
// The system's own words for a Win32 error code, in UTF-8: asked for as
// UTF-16 (FormatMessageW), so a message in the user's language survives
// whatever the ANSI code page is.

#include "platform/Utf16_win32.h"
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
    return Narrow(wide);
}

}  // namespace veltrad
