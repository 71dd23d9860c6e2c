#include "cli/Json.h"

#include "cli/AdapterHints.h"

#include "multiport/Outcome.h"

#include <cstdio>
#include <string_view>

namespace veltrad::cli {

std::string JsonCounters(const RunStats& s)
{
    char text[160];
    std::snprintf(text, sizeof text, "\"frames\":%u,\"acknowledged\":%u,\"resends\":%u,\"seconds\":%.3f",
                  static_cast<unsigned>(s.frames), static_cast<unsigned>(s.acknowledged),
                  static_cast<unsigned>(s.resends), s.seconds);
    return text;
}

namespace {

// "outcome":...,"frames":...,...,"reply_ms_p95":...: a single run's fields,
// which every object carries, one port or several.
std::string RunFields(RunOutcome outcome, const RunStats& s)
{
    return "\"outcome\":" + JsonString(OutcomeName(outcome)) + "," + JsonCounters(s) +
           ",\"held_by_xoff\":" + (s.lastWriteCutShort ? "true" : "false") +
           ",\"port_gone\":" + (s.portGone ? "true" : "false") + ReplyTimesJson(s);
}

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when it
// is none (a stray continuation byte, an overlong form, a surrogate, a
// sequence cut short or beyond U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view s)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

// `value` with every control character (C0, DEL, C1) and every byte that is
// no part of well-formed UTF-8 as \u00XX; for JSON also the quote and the
// backslash escaped.
std::string Escaped(const std::string& value, bool json)
{
    std::string out;
    const auto escaped = [&out](unsigned u) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", u);
        out += escape;
    };
    for (std::size_t at = 0; at < value.size();) {
        const char c = value[at];
        const auto u = static_cast<unsigned char>(c);
        const std::size_t length = Utf8SequenceLength(std::string_view(value).substr(at));
        // U+0080 ... U+009F, the C1 controls, are C2 80 ... C2 9F in UTF-8.
        const bool c1 = length == 2 && u == 0xC2 && static_cast<unsigned char>(value[at + 1]) < 0xA0;
        if (json && (c == '"' || c == '\\')) {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F || length == 0) {
            // A byte that is no UTF-8 (a device name is any bytes) becomes
            // the code point of its value, so that the text stays valid and
            // every byte can still be told.
            escaped(u);
        } else if (c1) {
            escaped(static_cast<unsigned char>(value[at + 1]));
            at += length;
            continue;
        } else {
            out.append(value, at, length);
            at += length;
            continue;
        }
        ++at;
    }
    return out;
}

}  // namespace

std::string RunJson(RunOutcome outcome, const RunStats& s) { return "{" + RunFields(outcome, s) + "}"; }

std::string ErrorJson(const std::string& why) { return "{\"error\":" + JsonString(why) + "}"; }

std::string JsonString(const std::string& value) { return "\"" + Escaped(value, true) + "\""; }

std::string TerminalText(const std::string& value) { return Escaped(value, false); }

std::string JsonObject(const PortResult& r)
{
    return "{\"port\":" + JsonString(r.port) + ",\"device\":" + JsonString(r.device) + "," +
           RunFields(r.outcome, r.stats) + "}";
}

std::string JsonArray(const std::vector<PortResult>& results)
{
    std::string out = "[";
    for (std::size_t i = 0; i < results.size(); ++i)
        out += (i == 0 ? "" : ",") + JsonObject(results[i]);
    return out + "]";
}

}  // namespace veltrad::cli
