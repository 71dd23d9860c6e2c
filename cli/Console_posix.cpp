#include "cli/Console.h"

#include "cli/StopSignals.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

namespace veltrad::cli {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void IgnoreBrokenPipes() { (void)std::signal(SIGPIPE, SIG_IGN); }

// Flushed at once, with the stop signals held back: the handlers restart no
// system call, and a signal in a write that waits (a full pipe) would lose
// the output.
void WriteText(std::FILE* stream, std::string_view text)
{
    WithStopSignalsHeld([&] {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    });
}

bool EnableCursorMovement() { return true; }

int StderrColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

std::string QuoteArgument(const std::string& argument)
{
    const bool plain =
        !argument.empty() &&
        argument.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-+=./:,@%") ==
            std::string::npos;
    if (plain)
        return argument;
    // Single quotes keep everything but a single quote, which closes the
    // quotes, is escaped and opens them again.
    std::string quoted = "'";
    for (const char c : argument) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::tm LocalTime(std::time_t time)
{
    std::tm tm{};
    ::localtime_r(&time, &tm);
    return tm;
}

}  // namespace veltrad::cli
