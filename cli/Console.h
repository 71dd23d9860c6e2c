#pragma once
// What the command-line tool needs from its system beyond standard C++: the
// terminal, the stop signals, the shell's quoting and the local time. One
// implementation per platform (Console_posix.cpp, Console_win32.cpp).

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veltrad::cli {

bool StderrIsTerminal();

// Makes a write to a closed pipe fail with an error instead of ending the
// program, so that a reader going away (`| head -c 1`) never ends a run.
void IgnoreBrokenPipes();

// Writes UTF-8 `text` to stdout or stderr so that it reads right: on a
// Windows console as UTF-16 (the console's code page may have no Hangul),
// anywhere else as the bytes given.
void WriteText(std::FILE* stream, std::string_view text);

// Makes the terminal on stderr follow cursor movement sequences; false when
// it cannot, and lines must then not be redrawn in place.
bool EnableCursorMovement();

// Width of the terminal on stderr in columns; 0 when unknown.
int StderrColumns();

// `argument` as the system's shell reads it back as one word: unchanged when
// it needs no quotes.
std::string QuoteArgument(const std::string& argument);

std::tm LocalTime(std::time_t time);

}  // namespace veltrad::cli
