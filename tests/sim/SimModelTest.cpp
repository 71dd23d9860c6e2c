// The simulated terminal's model on its own: bytes with arrival times in,
// replies with due times out. No line, no thread, no clock.

#include "sim/TerminalModel.h"

#include "image/Packet.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <vector>

namespace veltrad::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Frame = std::array<std::uint8_t, kFrameSize>;

const Clock::time_point kT0 = Clock::time_point{} + 1h;
const auto kByte = std::chrono::duration_cast<Clock::duration>(kByteTimeOnLine);

enum class Damage { None, Stx, Etx, Checksum };

Frame MakeFrame(std::uint32_t address, Damage damage = Damage::None)
{
    std::array<std::uint8_t, kBlockSize> block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(address / kBlockSize + i);
    Frame frame{};
    FillFrame(frame, address, block);
    switch (damage) {
    case Damage::None: break;
    case Damage::Stx: frame[0] ^= 0xFF; break;
    case Damage::Etx: frame[kFrameEtxOffset] ^= 0xFF; break;
    case Damage::Checksum: frame[kFrameChecksumOffset] ^= 0xFF; break;
    }
    return frame;
}

struct Out {
    Clock::duration at;  // since kT0
    Bytes bytes;
    bool operator==(const Out&) const = default;
};

// Writes out everything queued, each entry at its due time.
std::vector<Out> Drain(CTerminalModel& model)
{
    std::vector<Out> out;
    while (model.HasOutput()) {
        const auto due = model.NextDue();
        out.push_back({due - kT0, model.NextBytes()});
        EXPECT_TRUE(model.Written(out.back().bytes.size(), due));
    }
    return out;
}

struct Sent {
    std::uint32_t address;
    Damage damage = Damage::None;
};

struct ReplyCase {
    const char* name;
    SimOptions options;
    std::vector<Sent> frames;    // each fed whole, 20 ms apart, its reply written before the next
    std::vector<Bytes> replies;  // per frame; empty: no reply
    std::size_t accepted;
};

SimOptions With(void (*set)(SimOptions&))
{
    SimOptions o;
    set(o);
    return o;
}

// Without the line's pace: due times are the options' alone.
SimOptions Instant(void (*set)(SimOptions&) = [](SimOptions&) {})
{
    SimOptions o = With(set);
    o.pace = false;
    return o;
}

TEST(SimModel, RepliesFollowTheFrameAndTheOptions)
{
    const Bytes ack{kAck}, nak{kNak}, none{};
    // clang-format off
    const ReplyCase cases[] = {
        {"good frames", {}, {{0}, {128}, {256}}, {ack, ack, ack}, 3},
        {"bad STX", {}, {{0, Damage::Stx}, {0}}, {nak, ack}, 1},
        {"bad ETX", {}, {{0, Damage::Etx}, {0}}, {nak, ack}, 1},
        {"bad checksum", {}, {{0, Damage::Checksum}, {0}}, {nak, ack}, 1},
        {"address not on a block", {}, {{64}}, {nak}, 0},
        {"address skips a block", {}, {{0}, {256}, {128}}, {ack, nak, ack}, 2},
        {"address goes back", {}, {{128}, {0}}, {ack, nak}, 1},
        {"resend of the last accepted", {}, {{0}, {0}, {128}}, {ack, ack, ack}, 2},
        {"refuse frame 1 twice", With([](SimOptions& o) { o.refuseFrame = 1; o.refuseTimes = 2; }),
         {{0}, {128}, {128}, {128}, {256}}, {ack, nak, nak, ack, ack}, 3},
        {"refuse frame 0 once", With([](SimOptions& o) { o.refuseFrame = 0; o.refuseTimes = 1; }),
         {{0}, {0}, {128}}, {nak, ack, ack}, 2},
        {"double ACK for frame 1", With([](SimOptions& o) { o.doubleAckFrame = 1; }), {{0}, {128}, {128}, {256}},
         {ack, {kAck, kAck}, ack, ack}, 3},
        {"silent after frame 1", With([](SimOptions& o) { o.silentAfter = 1; }), {{0}, {128}, {256}, {256}},
         {ack, ack, none, none}, 2},
        {"garbage", With([](SimOptions& o) { o.garbage = true; }), {{0}, {0}, {0}}, {{0x00}, nak, {0xFF}}, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        CTerminalModel model(c.options);
        model.Start(kT0);
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            const Frame frame = MakeFrame(c.frames[i].address, c.frames[i].damage);
            model.Feed(frame.data(), frame.size(), kT0 + i * 20ms);
            Drain(model);
        }
        const auto& rec = model.Recording();
        ASSERT_EQ(rec.frames.size(), c.replies.size()) << c.name;
        std::size_t acks = 0, refusals = 0, bad = 0;
        for (std::size_t i = 0; i < c.replies.size(); ++i) {
            EXPECT_EQ(rec.frames[i].reply, c.replies[i]) << c.name << ", frame " << i;
            EXPECT_EQ(rec.frames[i].replied.has_value(), !c.replies[i].empty()) << c.name << ", frame " << i;
            EXPECT_EQ(rec.frames[i].address, c.frames[i].address) << c.name << ", frame " << i;
            for (const auto b : c.replies[i])
                ++(b == kAck ? acks : refusals);
            bad += rec.frames[i].good ? 0 : 1;
        }
        EXPECT_EQ(rec.counters.framesReceived, c.frames.size()) << c.name;
        EXPECT_EQ(rec.counters.framesAccepted, c.accepted) << c.name;
        EXPECT_EQ(rec.counters.acksSent, acks) << c.name;
        EXPECT_EQ(rec.counters.refusals, refusals) << c.name;
        EXPECT_EQ(rec.counters.badFrames, bad) << c.name;
        EXPECT_EQ(rec.Image().bytes.size(), c.accepted * kBlockSize) << c.name;
    }
}

struct TimingCase {
    const char* name;
    SimOptions options;
    Clock::duration fedAt;  // since kT0; the frame arrives in one read
    Clock::duration due;    // of the reply, since kT0
};

TEST(SimModel, ReplyDueTimes)
{
    // clang-format off
    const TimingCase cases[] = {
        {"at once", Instant(), 10ms, 10ms},
        {"reply delay", Instant([](SimOptions& o) { o.replyDelay = 5ms; }), 10ms, 15ms},
        {"adapter tick rounds up", Instant([](SimOptions& o) { o.adapterTick = 16ms; }), 10ms, 16ms},
        {"on a tick stays", Instant([](SimOptions& o) { o.adapterTick = 16ms; }), 16ms, 16ms},
        {"just past a tick waits a whole one", Instant([](SimOptions& o) { o.adapterTick = 16ms; }), 16ms + 1ns, 32ms},
        {"delay, then the tick", Instant([](SimOptions& o) { o.adapterTick = 16ms; o.replyDelay = 5ms; }), 12ms, 32ms},
        {"paced by default: the frame's line time and the reply's", {}, 10ms, 10ms + kByte * (kFrameSize + 1)},
        {"paced and delayed", With([](SimOptions& o) { o.replyDelay = 5ms; }), 10ms,
         15ms + kByte * (kFrameSize + 1)},
    };
    // clang-format on
    for (const auto& c : cases) {
        CTerminalModel model(c.options);
        model.Start(kT0);
        const Frame frame = MakeFrame(0);
        model.Feed(frame.data(), frame.size(), kT0 + c.fedAt);
        EXPECT_EQ(Drain(model), (std::vector<Out>{{c.due, {kAck}}})) << c.name;
    }
}

TEST(SimModel, PacingFollowsTheSlowerOfSenderAndLine)
{
    CTerminalModel model(SimOptions{});
    model.Start(kT0);
    const Frame frame = MakeFrame(0);
    // One byte a millisecond, slower than the line: each arrives one byte time after it was written.
    for (std::size_t i = 0; i < kFrameSize; ++i)
        model.Feed(&frame[i], 1, kT0 + i * 1ms);
    const auto last = (kFrameSize - 1) * Clock::duration(1ms);
    EXPECT_EQ(model.Recording().frames.at(0).complete - kT0, last + kByte);
    EXPECT_EQ(Drain(model), (std::vector<Out>{{last + 2 * kByte, {kAck}}}));

    // The next frame written at once right after: the line, not the sender, sets the pace.
    const Frame next = MakeFrame(128);
    model.Feed(next.data(), next.size(), kT0 + last + 1ms);
    EXPECT_EQ(Drain(model), (std::vector<Out>{{last + 1ms + kByte * (kFrameSize + 1), {kAck}}}));
}

TEST(SimModel, XoffGoesWithTheReplyBeforeTheChosenFrame)
{
    SimOptions options = Instant();
    options.xoffBeforeFrame = 1;
    options.xoffHold = 50ms;
    CTerminalModel model(options);
    model.Start(kT0);
    for (const std::uint32_t address : {0u, 128u}) {
        const Frame frame = MakeFrame(address);
        model.Feed(frame.data(), frame.size(), kT0 + address * 1ms);
    }
    EXPECT_EQ(Drain(model), (std::vector<Out>{{0ms, {kXoffChar, kAck}}, {50ms, {kXonChar}}, {128ms, {kAck}}}));
    EXPECT_EQ(model.Recording().frames.at(0).reply, Bytes{kAck}) << "flow-control bytes are no reply";
    EXPECT_EQ(model.Recording().counters.refusals, 0u);

    options.xoffBeforeFrame = 0;
    CTerminalModel first(options);
    first.Start(kT0);
    first.HoldLine(kT0 + 10ms, 5ms);
    first.SendRaw(kT0 + 10ms, {'M'});
    EXPECT_EQ(Drain(first),
              (std::vector<Out>{
                  {0ms, {kXoffChar}}, {10ms, {kXoffChar}}, {10ms, {'M'}}, {15ms, {kXonChar}}, {50ms, {kXonChar}}}));
}

// What arrives from the XOFF's write to the XON's shows a sender that did not stop.
TEST(SimModel, BytesBetweenXoffAndXonAreCounted)
{
    SimOptions options;
    options.xoffBeforeFrame = 1;
    options.xoffHold = 50ms;
    CTerminalModel model(options);
    model.Start(kT0);
    const Frame frame = MakeFrame(0);
    model.Feed(frame.data(), frame.size(), kT0);
    const std::uint8_t stray = 0x55;
    model.Feed(&stray, 1, kT0 + 1ms);  // before the XOFF has gone out
    ASSERT_EQ(model.NextBytes(), (Bytes{kXoffChar, kAck}));
    ASSERT_TRUE(model.Written(2, kT0 + 2ms));
    model.Feed(&stray, 1, kT0 + 3ms);
    ASSERT_EQ(model.NextBytes(), Bytes{kXonChar});
    ASSERT_TRUE(model.Written(1, kT0 + 52ms));
    model.Feed(&stray, 1, kT0 + 53ms);
    EXPECT_EQ(model.Recording().counters.holds, 1u);
    EXPECT_EQ(model.Recording().counters.bytesWhileHeld, 1u);
    EXPECT_EQ(model.Recording().Summary(), "frames 1, refusals 0, bytes 128, base 0x00000000, bytes while held 1");
}

TEST(SimModel, PartialWritesKeepTheRestQueued)
{
    CTerminalModel model(SimOptions{});
    model.Start(kT0);
    const Frame frame = MakeFrame(0);
    model.Feed(frame.data(), frame.size(), kT0);
    EXPECT_FALSE(model.Written(0, kT0)) << "a blocked line sent nothing";
    EXPECT_TRUE(model.Recording().frames.at(0).reply.empty());
    EXPECT_TRUE(model.Written(1, kT0 + 1ms));
    EXPECT_EQ(model.Recording().frames.at(0).replied, kT0 + 1ms);
    EXPECT_FALSE(model.HasOutput());
}

TEST(SimModel, FrameThatStopsArrivingIsDroppedAndRefused)
{
    SimOptions options = Instant();
    options.partialFrameTimeout = 200ms;
    CTerminalModel model(options);
    model.Start(kT0);
    EXPECT_FALSE(model.PartialExpiry().has_value());
    const Frame frame = MakeFrame(0x300);
    model.Feed(frame.data(), 40, kT0);
    model.Feed(frame.data() + 40, 10, kT0 + 100ms);
    EXPECT_EQ(model.PartialExpiry(), kT0 + 300ms) << "counted from the last byte";
    EXPECT_FALSE(model.ExpirePartial(kT0 + 299ms));
    EXPECT_TRUE(model.ExpirePartial(kT0 + 300ms));
    EXPECT_EQ(Drain(model), (std::vector<Out>{{300ms, {kNak}}}));
    const auto& rec = model.Recording();
    EXPECT_EQ(rec.frames.at(0).address, 0x300u);
    EXPECT_EQ(rec.counters.badFrames, 1u);

    model.Feed(frame.data(), frame.size(), kT0 + 400ms);
    EXPECT_EQ(Drain(model), (std::vector<Out>{{400ms, {kAck}}})) << "the whole resend is taken";
}

TEST(SimModel, ThreeEotsInARowEndTheRun)
{
    CTerminalModel model(SimOptions{});
    model.Start(kT0);
    const Bytes two{kEot, kEot};
    model.Feed(two.data(), two.size(), kT0);
    const Frame first = MakeFrame(0x80);
    model.Feed(first.data(), first.size(), kT0);
    EXPECT_FALSE(model.Ended()) << "a frame between breaks the sequence";
    Bytes closing{kEot, kEot, kEot};
    const Frame after = MakeFrame(0x100);
    closing.insert(closing.end(), after.begin(), after.end());
    model.Feed(closing.data(), closing.size(), kT0);
    EXPECT_TRUE(model.Ended());
    const auto& rec = model.Recording();
    EXPECT_EQ(rec.counters.eots, 5u);
    EXPECT_EQ(rec.counters.framesReceived, 1u) << "bytes after the closing sequence belong to no run";
    const auto image = rec.Image();
    EXPECT_EQ(image.baseAddress, 0x80u);
    EXPECT_EQ(image.bytes, Bytes(first.begin() + kFrameDataOffset, first.begin() + kFrameEtxOffset));
    EXPECT_EQ(rec.Summary(), "frames 1, refusals 0, bytes 128, base 0x00000080");
}

}  // namespace
}  // namespace veltrad::sim
