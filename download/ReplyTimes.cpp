#include "download/ReplyTimes.h"

#include <algorithm>

namespace veltrad {

namespace {

constexpr double kMicrosPerMs = 1000.0;
constexpr std::size_t kPercentile = 95;

}  // namespace

CReplyTimes::CReplyTimes(std::size_t frames, std::uint32_t lineTimeUs) : m_lineTimeUs(lineTimeUs)
{
    m_micros.reserve(frames);
}

void CReplyTimes::WriteEnded(std::uint32_t startTick, std::uint32_t endTick)
{
    // Modulo 2^32 throughout, like the tick count: a wrap costs nothing.
    m_writeEnd = endTick - startTick >= m_lineTimeUs ? endTick : startTick + m_lineTimeUs;
}

void CReplyTimes::ReplyRead(std::uint32_t microTick)
{
    if (!m_writeEnd)
        return;
    // Negative when the reply beat the frame's own line time (a simulator
    // on a pseudo-terminal): no delay at all.
    const auto since = static_cast<std::int32_t>(microTick - *m_writeEnd);
    m_micros.push_back(since > 0 ? static_cast<std::uint32_t>(since) : 0);
    m_writeEnd.reset();
}

void CReplyTimes::Fill(RunStats& stats) const
{
    stats.replies = static_cast<std::uint32_t>(m_micros.size());
    if (m_micros.empty()) {
        stats.replyMsMedian = stats.replyMsP95 = 0.0;
        return;
    }
    std::vector<std::uint32_t> sorted = m_micros;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 == 1 ? sorted[n / 2] : (double(sorted[n / 2 - 1]) + sorted[n / 2]) / 2.0;
    // Nearest rank: the smallest value with at least 95 % of all at or below it.
    const std::size_t rank = (n * kPercentile + 99) / 100;
    stats.replyMsMedian = median / kMicrosPerMs;
    stats.replyMsP95 = sorted[rank - 1] / kMicrosPerMs;
}

}  // namespace veltrad
