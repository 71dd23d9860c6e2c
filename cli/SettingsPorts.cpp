#include "cli/SettingsPorts.h"

#include "base/Utf8Path.h"
#include "cli/Console.h"

#include <system_error>

namespace veltrad::cli {

std::string SettingsProblemText(const CProfile& profile, const IniReadError& error)
{
    std::string why;
    switch (error.problem) {
    case IniProblem::None:
    case IniProblem::Missing:
    case IniProblem::Unreadable: why = std::generic_category().message(error.systemError); break;
    case IniProblem::TooLarge: why = "too large for a settings file"; break;
    case IniProblem::NotText: why = "not a text file"; break;
    case IniProblem::BadEncoding: why = "not UTF-8 or UTF-16 text"; break;
    }
    if (error.line != 0)
        why += " (line " + std::to_string(error.line) + ")";
    return "cannot read the settings file " + Utf8FromPath(profile.Path()) + ": " + why + "; its [Ports] are not used";
}

CPortMap ReadPortMap(const CProfile& profile)
{
    if (const auto problem = profile.ReadProblem())
        WriteText(stderr, "veltrad-cli: " + SettingsProblemText(profile, *problem) + "\n");
    return PortMapFromProfile(profile);
}

}  // namespace veltrad::cli
