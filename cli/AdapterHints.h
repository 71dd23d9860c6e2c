#pragma once
// What veltrad-cli says about reply times and the adapter: the figures on the
// final line and in --json, and at most two hint lines when replies are slow
// or the adapter's latency timer is high, naming the fix where the adapter is
// known.

#include "download/RunObserver.h"
#include "serial/AdapterInfo.h"

#include <string>
#include <vector>

namespace veltrad::cli {

// A median above this means the adapter or the terminal holds the replies:
// a direct line answers within a millisecond.
inline constexpr double kSlowReplyMedianMs = 8.0;
// A latency timer above this delays every reply noticeably.
inline constexpr int kMaxGoodLatencyTimerMs = 2;

// "; replies 0.21 ms median, 0.40 ms 95th percentile" for the final line;
// empty when no reply was timed.
std::string ReplyTimesText(const RunStats& stats);

// `,"reply_ms_median":0.210,"reply_ms_p95":0.400` for the JSON object, with
// null for both when no reply was timed.
std::string ReplyTimesJson(const RunStats& stats);

// The hint lines, without newlines: one when the adapter's latency timer is
// still above 2 ms after the low-latency request, one when the median reply
// took more than 8 ms.
std::vector<std::string> AdapterHints(const RunStats& stats, const AdapterInfo& adapter);

}  // namespace veltrad::cli
