// veltrad-cli.exe's entry point: the arguments as Windows has them, in
// UTF-16, turned into UTF-8. main()'s would be in the ANSI code page, which
// loses every character outside it (a Korean file name on a Western PC).

#include "cli/Cli.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string Narrow(const wchar_t* wide)
{
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return {};
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
    utf8.pop_back();  // the terminating null
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(Narrow(argv[i]));
    std::vector<const char*> pointers;
    for (const std::string& arg : args)
        pointers.push_back(arg.c_str());
    return veltrad::cli::RunCommandLine(argc, pointers.data());
}
