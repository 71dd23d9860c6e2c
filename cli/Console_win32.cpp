#include "cli/Console.h"

#include "platform/LongPath_win32.h"
#include "platform/Utf16_win32.h"

#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

namespace veltrad::cli {

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Windows has no SIGPIPE: a write to a closed pipe fails with an error.
void IgnoreBrokenPipes() {}

void WriteText(std::FILE* stream, std::string_view text)
{
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (text.empty() || !::GetConsoleMode(console, &mode)) {
        // Redirected: UTF-8, as every other output of the program.
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    std::fflush(stream);  // what went out through the C runtime comes first
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

bool EnableCursorMovement()
{
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err == INVALID_HANDLE_VALUE || !::GetConsoleMode(err, &mode))
        return false;
    return ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"&|<>^%") == std::string::npos)
        return argument;
    // The command prompt's quoting: a double quote inside is doubled.
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"')
            quoted += "\"\"";
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::tm LocalTime(std::time_t time)
{
    std::tm tm{};
    localtime_s(&tm, &time);
    return tm;
}

}  // namespace veltrad::cli
