#include "cli/Json.h"

#include "cli/AdapterHints.h"

#include <cstdio>

namespace veltrad::cli {

std::string JsonCounters(const RunStats& s)
{
    char text[160];
    std::snprintf(text, sizeof text, "\"frames\":%u,\"acknowledged\":%u,\"resends\":%u,\"seconds\":%.3f",
                  static_cast<unsigned>(s.frames), static_cast<unsigned>(s.acknowledged),
                  static_cast<unsigned>(s.resends), s.seconds);
    return text;
}

std::string RunJson(const char* outcome, const RunStats& s)
{
    return std::string("{\"outcome\":\"") + outcome + "\"," + JsonCounters(s) +
           ",\"held_by_xoff\":" + (s.lastWriteCutShort ? "true" : "false") +
           ",\"port_gone\":" + (s.portGone ? "true" : "false") + ReplyTimesJson(s) + "}";
}

std::string JsonString(const std::string& value)
{
    std::string out = "\"";
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;  // UTF-8 passes through
        }
    }
    return out + "\"";
}

std::string JsonObject(const PortResult& r)
{
    std::string out = "{\"port\":" + JsonString(r.port) + ",\"device\":" + JsonString(r.device) +
                      ",\"outcome\":" + JsonString(r.outcome) + "," + JsonCounters(r.stats);
    if (r.stats.replies > 0)  // a port that never answered has no reply fields
        out += ReplyTimesJson(r.stats);
    return out + "}";
}

std::string JsonArray(const std::vector<PortResult>& results)
{
    std::string out = "[";
    for (std::size_t i = 0; i < results.size(); ++i)
        out += (i == 0 ? "" : ",") + JsonObject(results[i]);
    return out + "]";
}

}  // namespace veltrad::cli
