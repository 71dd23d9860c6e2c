#pragma once
// The settings file as the command-line tool reads it: its [Ports] map, and
// a word on stderr when the file is there but cannot be read, rather than
// the built-in ports without a word.

#include "serial/PortMap.h"
#include "settings/Profile.h"

#include <string>

namespace veltrad::cli {

// "cannot read the settings file <path>: not a text file (line 3); its
// [Ports] are not used"
std::string SettingsProblemText(const CProfile& profile, const IniReadError& error);

// The map of `profile`; says the file's problem on stderr, once per call.
CPortMap ReadPortMap(const CProfile& profile);

}  // namespace veltrad::cli
