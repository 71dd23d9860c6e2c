#pragma once
// veltrad-cli's JSON output: a single run's object, and with several ports
// one object per port in an array.

#include "download/RunObserver.h"
#include "multiport/PortResult.h"

#include <string>
#include <vector>

namespace veltrad::cli {

// "frames":F,"acknowledged":A,"resends":R,"seconds":S.SSS: the counters
// every run's JSON object carries, one port or several.
std::string JsonCounters(const RunStats& stats);

// The JSON object of a single run, one line without its newline.
std::string RunJson(RunOutcome outcome, const RunStats& stats);

// {"error":"<why>"}: a download refused before any run, one line without
// its newline.
std::string ErrorJson(const std::string& why);

// `value` as a JSON string, quotes included; a control character or a byte
// that is no part of well-formed UTF-8 is written as \u00XX.
std::string JsonString(const std::string& value);
// `value` for a terminal, with the same \u00XX in place of control
// characters and bytes that are no UTF-8: names the system reports (USB
// descriptors, links) can hold ESC or BEL.
std::string TerminalText(const std::string& value);
// {"port":...,"device":..., then the single run's fields} on one line.
std::string JsonObject(const PortResult& result);
// [obj,obj,...] on one line, in the order given.
std::string JsonArray(const std::vector<PortResult>& results);

}  // namespace veltrad::cli
