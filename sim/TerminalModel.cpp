#include "sim/TerminalModel.h"

#include "image/Packet.h"

#include <algorithm>
#include <array>

namespace veltrad::sim {

namespace {

const auto kByteTime = std::chrono::duration_cast<Clock::duration>(kByteTimeOnLine);

// Replies a garbage-answering terminal cycles through: anything but ACK.
constexpr std::array<std::uint8_t, 6> kGarbage = {0x00, kNak, 0xFF, 0x41, 0x05, 0x07};

}  // namespace

CTerminalModel::CTerminalModel(const SimOptions& options) : m_options(options) {}

void CTerminalModel::Start(Clock::time_point now)
{
    m_tickOrigin = now;
    if (m_options.xoffBeforeFrame && *m_options.xoffBeforeFrame == 0) {
        m_xoffDone = true;
        ScheduleHold(now, m_options.xoffHold, nullptr);
    }
}

void CTerminalModel::ScheduleHold(Clock::time_point at, std::chrono::milliseconds hold,
                                  std::vector<std::uint8_t>* prefixOf)
{
    if (prefixOf)
        prefixOf->insert(prefixOf->begin(), kXoffChar);
    else
        m_outbox.emplace(at, Output{{kXoffChar}, std::nullopt});
    if (m_options.strayInHold)
        m_outbox.emplace(at + hold / 2, Output{{kAck}, std::nullopt});
    m_outbox.emplace(at + hold, Output{{kXonChar}, std::nullopt});
}

void CTerminalModel::HoldLine(Clock::time_point now, std::chrono::milliseconds hold)
{
    ScheduleHold(now, hold, nullptr);
}

void CTerminalModel::SendRaw(Clock::time_point now, std::vector<std::uint8_t> bytes)
{
    m_outbox.emplace(now, Output{std::move(bytes), std::nullopt});
}

void CTerminalModel::Feed(const std::uint8_t* data, std::size_t count, Clock::time_point now)
{
    for (std::size_t i = 0; i < count && !Ended(); ++i) {
        const std::uint8_t b = data[i];
        if (m_holding)
            ++m_recording.counters.bytesWhileHeld;
        if (m_partial.empty()) {
            if (b == kEot) {
                ++m_eotRun;
                ++m_recording.counters.eots;
                if (m_eotRun >= kEotCount)
                    m_recording.counters.ended = true;
                continue;
            }
            m_eotRun = 0;
            m_partialFirst = now;
        }
        m_partial.push_back(b);
        m_partialLast = now;
        // The line starts carrying a byte when it was written (taken as when
        // it was read) or when the byte before it has arrived, whichever is later.
        m_lineArrival = m_options.pace ? std::max(now, m_lineArrival) + kByteTime : now;
        if (m_partial.size() == kFrameSize)
            FrameComplete(now);
    }
}

std::size_t CTerminalModel::Record(std::uint32_t address, bool good)
{
    FrameRecord rec;
    rec.address = address;
    rec.good = good;
    rec.firstByte = m_partialFirst;
    rec.complete = m_lineArrival;
    m_recording.frames.push_back(std::move(rec));
    ++m_recording.counters.framesReceived;
    if (!good)
        ++m_recording.counters.badFrames;
    return m_recording.frames.size() - 1;
}

std::uint8_t CTerminalModel::NextGarbage() { return kGarbage[m_garbageNext++ % kGarbage.size()]; }

void CTerminalModel::FrameComplete(Clock::time_point now)
{
    std::array<std::uint8_t, kFrameSize> frame{};
    std::copy(m_partial.begin(), m_partial.end(), frame.begin());
    m_partial.clear();

    const std::uint32_t address = FrameAddress(frame);
    const bool framed = frame[0] == kStx && frame[kFrameEtxOffset] == kEtx &&
                        frame[kFrameChecksumOffset] == FrameChecksum(frame) && address % kBlockSize == 0;
    const bool duplicate = framed && m_lastAccepted && address == *m_lastAccepted;
    const bool next = framed && (!m_lastAccepted || address == *m_lastAccepted + kBlockSize);
    const bool good = duplicate || next;

    auto& counters = m_recording.counters;
    const std::size_t accepted = counters.framesAccepted;
    const std::size_t record = Record(address, good);

    // A resend of the frame last accepted (its ACK got lost) keeps that index.
    const std::size_t index = duplicate ? accepted - 1 : accepted;
    const auto& o = m_options;
    if (o.silentAfter && index > *o.silentAfter)
        return;  // silent: no reply, nothing taken
    if (o.garbage) {
        Reply(record, {NextGarbage()}, now, false);
        return;
    }
    if (!good) {
        Reply(record, {kNak}, now, false);
        return;
    }
    if (!duplicate && o.refuseFrame && index == *o.refuseFrame && m_refusedSoFar < o.refuseTimes) {
        ++m_refusedSoFar;
        Reply(record, {kNak}, now, false);
        return;
    }
    if (!duplicate) {
        m_recording.Accept(address, frame.data() + kFrameDataOffset);
        m_lastAccepted = address;
        m_recording.frames[record].accepted = true;
        ++counters.framesAccepted;
    }
    std::vector<std::uint8_t> reply{kAck};
    if (!duplicate && o.doubleAckFrame && index == *o.doubleAckFrame)
        reply.push_back(kAck);
    const bool hold = !duplicate && !m_xoffDone && o.xoffBeforeFrame && *o.xoffBeforeFrame == counters.framesAccepted;
    Reply(record, std::move(reply), now, hold);
}

std::optional<Clock::time_point> CTerminalModel::PartialExpiry() const
{
    if (m_partial.empty())
        return std::nullopt;
    return m_partialLast + m_options.partialFrameTimeout;
}

bool CTerminalModel::ExpirePartial(Clock::time_point now)
{
    const auto expiry = PartialExpiry();
    if (!expiry || now < *expiry)
        return false;
    CutShort(now);
    return true;
}

// A frame that stopped arriving: the sender's write was cut short.
void CTerminalModel::CutShort(Clock::time_point now)
{
    std::uint32_t address = 0;
    if (m_partial.size() > kFrameAddressOffset + 3) {
        std::array<std::uint8_t, kFrameSize> frame{};
        std::copy(m_partial.begin(), m_partial.end(), frame.begin());
        address = FrameAddress(frame);
    }
    const std::size_t record = Record(address, false);
    m_partial.clear();
    if (m_options.silentAfter && m_recording.counters.framesAccepted > *m_options.silentAfter)
        return;
    Reply(record, {m_options.garbage ? NextGarbage() : kNak}, now, false);
}

void CTerminalModel::Reply(std::size_t record, std::vector<std::uint8_t> bytes, Clock::time_point now,
                           bool holdBeforeNext)
{
    auto due = now;
    if (m_options.pace) {
        // The reply starts once the frame's last byte has arrived and reaches
        // the sender one byte time later. The deadline follows from the
        // line's own arrival times, not from when the frame was handled, so a
        // late wake-up does not add up frame after frame.
        due = std::max(due, m_lineArrival + kByteTime);
    }
    due += m_options.replyDelay;
    if (m_options.adapterTick > Clock::duration::zero()) {
        const auto tick = std::chrono::duration_cast<Clock::duration>(m_options.adapterTick);
        due = m_tickOrigin + (due - m_tickOrigin + tick - Clock::duration(1)) / tick * tick;
    }
    if (holdBeforeNext) {
        m_xoffDone = true;
        ScheduleHold(due, m_options.xoffHold, &bytes);  // XOFF goes first, so the sender stops before its next write
    }
    m_outbox.emplace(due, Output{std::move(bytes), record});
}

Clock::time_point CTerminalModel::NextDue() const { return m_outbox.begin()->first; }

const std::vector<std::uint8_t>& CTerminalModel::NextBytes() const { return m_outbox.begin()->second.bytes; }

bool CTerminalModel::Written(std::size_t count, Clock::time_point at)
{
    auto& out = m_outbox.begin()->second;
    count = std::min(count, out.bytes.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (out.bytes[i] == kXoffChar) {
            m_holding = true;
            ++m_recording.counters.holds;
        } else if (out.bytes[i] == kXonChar) {
            m_holding = false;
        }
    }
    if (out.record) {
        auto& rec = m_recording.frames[*out.record];
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = out.bytes[i];
            if (b == kXonChar || b == kXoffChar)
                continue;
            rec.reply.push_back(b);
            if (b == kAck)
                ++m_recording.counters.acksSent;
            else
                ++m_recording.counters.refusals;
        }
    }
    out.bytes.erase(out.bytes.begin(), out.bytes.begin() + static_cast<std::ptrdiff_t>(count));
    if (!out.bytes.empty())
        return false;
    if (out.record)
        m_recording.frames[*out.record].replied = at;
    m_outbox.erase(m_outbox.begin());
    return true;
}

void CTerminalModel::DropNext() { m_outbox.erase(m_outbox.begin()); }

}  // namespace veltrad::sim
