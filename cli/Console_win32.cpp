#include "cli/Console.h"

#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

namespace veltrad::cli {

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Windows has no SIGPIPE: a write to a closed pipe fails with an error.
void IgnoreBrokenPipes() {}

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
