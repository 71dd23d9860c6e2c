// The station's workers as they are: the image's check before the starts,
// off the window's thread and stoppable, and ending the station while its
// runs go on, on ports that hold each run until they are closed: asked
// once, then every run stopped, every worker joined and every record
// written before the window ends.

#include "station/StationLogic.h"

#include "StationTestSupport.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

namespace veltrad::test {
namespace {

// A terminal that never answers: each wait lasts until the port is closed.
class HeldPort final : public ISerialPort {
public:
    bool OpenPort(std::uint16_t, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t) override { return Open(); }
    bool OpenDevice(const std::string&, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        return Open();
    }
    PortError LastPortError() const override { return {}; }
    std::string DevicePath() const override { return {}; }
    bool IsConnected() const override
    {
        const std::lock_guard lock(m_mutex);
        return m_open;
    }
    bool DeviceGone() const override { return false; }
    std::uint32_t ReadComm(std::uint8_t*, std::uint32_t) override { return 0; }
    std::uint32_t WriteComm(const std::uint8_t*, std::uint32_t count) override { return IsConnected() ? count : 0; }
    std::uint32_t WriteTransmission(const std::uint8_t* b, std::uint32_t count) override { return WriteComm(b, count); }
    bool HasLineTime() const override { return false; }
    bool WaitForInput(std::chrono::milliseconds timeout) override
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [this] { return !m_open; });
        return !m_open;
    }
    void ClosePort() override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_open = false;
        }
        m_changed.notify_all();
    }

private:
    bool Open()
    {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        return true;
    }
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// Time stands still, so no run ever times out on its own.
class StillClock final : public IClock {
public:
    std::uint32_t TickCount() override { return 0; }
};

// Four held ports, a still clock and a logic over them; every worker counted
// and, until Open, held before it begins.
class StationWorkersTest : public ::testing::Test {
protected:
    StationWorkersTest()
    {
        for (std::uint16_t n = 1; n <= 4; ++n) {
            ports.Override(n, "/dev/veltrad-held-" + std::to_string(n));
            devices.push_back({"/dev/veltrad-held-" + std::to_string(n), "", "", "", "", "", "", "", "", "", ""});
        }
        StationServices services;
        services.clock = &clock;
        services.port = [this](std::size_t i) { return &lines[i]; };
        services.launcher = [this](std::function<void()> body) {
            ++workers;
            return std::thread([this, body = std::move(body), gate = m_gate] {
                gate.wait();
                body();
                --workers;
            });
        };
        services.devices = [this] { return devices; };
        services.recordsFolder = dir / "records";
        logic = std::make_unique<CStationLogic>(view, ports, services);
        logic->OnInit();
        image = dir.Write("image.bin", std::vector<std::uint8_t>(512, 0x5A));
        EXPECT_TRUE(logic->SetImage(image));
        EXPECT_TRUE(logic->OnPortsText("COM1 COM2 COM3 COM4"));
    }
    ~StationWorkersTest() override
    {
        Open();
        logic.reset();
    }

    void Open()
    {
        if (!m_opened) {
            m_opened = true;
            m_open.set_value();
        }
    }
    // Start every idle tile; the check's result delivered once its worker says so.
    void StartAll()
    {
        const int posts = view.Posts();
        logic->OnStartAllIdle();
        Open();
        view.WaitForPosts(posts + 1);
        logic->DeliverEvents();
    }

    TempDir dir;
    std::filesystem::path image;
    CPortMap ports;
    std::vector<SerialDeviceInfo> devices;
    StillClock clock;
    HeldPort lines[4];
    std::atomic<int> workers{0};
    FakeStationView view;
    std::unique_ptr<CStationLogic> logic;

private:
    std::promise<void> m_open;
    std::shared_future<void> m_gate = m_open.get_future().share();
    bool m_opened = false;
};

// Each start reads and hashes the image on a worker while the tiles say so;
// a stop ends a tile's wait at once, without waiting for the worker, and a
// check that nobody waits for any more starts nothing and says nothing.
TEST_F(StationWorkersTest, TheImageIsCheckedOffTheWindowsThreadAndAStopEndsTheWait)
{
    logic->OnStartAllIdle();
    EXPECT_EQ(workers.load(), 1);
    for (const TileView& tile : view.tiles) {
        EXPECT_EQ(tile.state, TileState::Loading);
        EXPECT_EQ(tile.word, "이미지 확인 중");
        EXPECT_TRUE(tile.canStop);
        EXPECT_FALSE(tile.canStart);
    }
    EXPECT_TRUE(logic->AnyRunning());
    logic->OnStopTile(0);
    EXPECT_EQ(view.tiles[0].word, "대기");
    EXPECT_TRUE(view.tiles[0].canStart);
    EXPECT_EQ(view.tiles[1].word, "이미지 확인 중");
    logic->OnStopAll();
    EXPECT_FALSE(logic->AnyRunning());
    for (const TileView& tile : view.tiles)
        EXPECT_EQ(tile.word, "대기");

    Open();
    view.WaitForPosts(1);
    logic->DeliverEvents();
    EXPECT_EQ(view.counters.loading, 0u);
    EXPECT_TRUE(view.messages.empty());
    for (auto& line : lines)
        EXPECT_FALSE(line.IsConnected());

    // Started again, the check passes and every tile runs.
    StartAll();
    EXPECT_EQ(view.counters.loading, 4u);
    for (auto& line : lines)
        EXPECT_TRUE(line.IsConnected());
}

TEST_F(StationWorkersTest, EndingDuringRunsAsksOnceThenStopsJoinsAndRecordsEveryRun)
{
    StartAll();
    ASSERT_EQ(view.counters.loading, 4u);

    // "No": everything goes on.
    view.answer = false;
    logic->OnCloseRequested();
    EXPECT_EQ(view.asked, 1);
    EXPECT_EQ(view.ended, 0);
    EXPECT_TRUE(logic->AnyRunning());
    for (auto& line : lines)
        EXPECT_TRUE(line.IsConnected());

    // "Yes": by the time the window is told to end, nothing runs any more.
    view.answer = true;
    view.onEnd = [&] {
        EXPECT_EQ(workers.load(), 0);
        for (auto& line : lines)
            EXPECT_FALSE(line.IsConnected());
        EXPECT_FALSE(logic->AnyRunning());
    };
    logic->OnCloseRequested();
    EXPECT_EQ(view.asked, 2);
    EXPECT_EQ(view.ended, 1);
    for (const TileView& tile : view.tiles)
        EXPECT_EQ(tile.word, "중지됨");
    EXPECT_TRUE(view.sounds.empty());
    std::size_t stopped = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "records")) {
        const std::string text = TempDir::ReadText(entry.path());
        for (std::size_t at = 0; (at = text.find("\tstopped\t", at)) != std::string::npos; ++at)
            ++stopped;
    }
    EXPECT_EQ(stopped, 4u);

    // Once ended, nothing starts or asks again.
    logic->OnCloseRequested();
    logic->OnStartAllIdle();
    EXPECT_EQ(view.asked, 2);
    EXPECT_EQ(view.ended, 1);
    EXPECT_FALSE(logic->AnyRunning());
}

}  // namespace
}  // namespace veltrad::test
