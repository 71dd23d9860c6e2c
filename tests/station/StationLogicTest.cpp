// The station logic with a fake view, scripted ports and a fake clock. The
// workers run inline, so each case is deterministic and single-threaded; the
// end during runs (StationEndTest) runs real workers. What the exchange does
// with each reply is shown in tests/download, the outcomes' words in
// tests/multiport; here what the station makes of each outcome.

#include "station/StationLogic.h"
#include "station/ViewTexts.h"
#include "settings/Profile.h"
#include "window/ReasonTexts.h"

#include "StationTestSupport.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace veltrad::test {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

constexpr int kFrames = 3;
constexpr char kHost[] = "line3-pc";

std::string FakeDevice(int n) { return "/dev/veltrad-fake-" + std::to_string(n); }

// The record file's lines without the header, each split into its fields.
std::vector<std::vector<std::string>> RecordLines(const fs::path& folder)
{
    std::vector<std::vector<std::string>> lines;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::istringstream text(TempDir::ReadText(entry.path()));
        for (std::string line; std::getline(text, line);) {
            if (line.empty() || line[0] == '#')
                continue;
            std::vector<std::string> fields;
            std::istringstream split(line);
            for (std::string field; std::getline(split, field, '\t');)
                fields.push_back(field);
            lines.push_back(fields);
        }
    }
    return lines;
}

// Record fields by position: the run log's twelve, then the station's three.
enum Field { kTime, kPort, kDevice, kAdapter, kImage, kSize, kSha256, kOutcome, kSerial = 12, kStation, kJob };

class StationLogicTest : public ::testing::Test {
protected:
    StationLogicTest()
    {
        for (int n = 1; n <= 8; ++n) {
            ports.Override(static_cast<std::uint16_t>(n), FakeDevice(n));
            devices.push_back({FakeDevice(n), "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART",
                               "A" + std::to_string(n), "", "", "", ""});
        }
        image = dir.Write("image.bin", std::vector<std::uint8_t>(kFrames * 128, 0x5A));
    }

    // A logic over `tiles` fake ports, with the image chosen and the ports set.
    void Make(const std::string& portsText, std::size_t tiles)
    {
        logic.reset();
        lines.clear();
        for (std::size_t i = 0; i < tiles; ++i)
            lines.push_back(std::make_unique<FakeSerialPort>(clock, log));
        StationServices services;
        services.clock = &clock;
        services.port = [this](std::size_t i) { return lines.at(i).get(); };
        services.launcher = [](std::function<void()> body) {
            body();
            return std::thread();
        };
        services.devices = [this] { return devices; };
        services.hostName = kHost;
        services.recordsFolder = dir / "records";
        logic = std::make_unique<CStationLogic>(view, ports, services);
        logic->OnInit();
        logic->OnJobName("main board");
        ASSERT_TRUE(logic->SetImage(image));
        ASSERT_TRUE(logic->OnPortsText(portsText));
    }

    void StartAllAndDeliver()
    {
        logic->OnStartAllIdle();
        logic->DeliverEvents();
    }

    TempDir dir;
    fs::path image;
    CPortMap ports;
    std::vector<SerialDeviceInfo> devices;
    FakeClock clock;
    std::vector<std::string> log;
    std::vector<std::unique_ptr<FakeSerialPort>> lines;
    FakeStationView view;
    std::unique_ptr<CStationLogic> logic;
};

// What a tile makes of each outcome: its state, the notices' words and
// advice, the detail line and its counters.
TEST(StationTile, EachOutcomeEndsTheTileInItsStateWordsAndCounters)
{
    constexpr char kDownloadMode[] = "단말기가 다운로드 모드인지 확인.";
    constexpr char kCable[] = "단말기와 PC간에 케이블 연결이 정상적인지 확인.";
    constexpr char kRunAgain[] = "다운로드를 재실행 바랍니다.";
    const struct {
        RunOutcome outcome;
        TileState state;
        const char* word;
        const char* hint;
    } cases[] = {
        {RunOutcome::Completed, TileState::Complete, "다운로드 완료", ""},
        {RunOutcome::TimedOut, TileState::Failed, "통신 오류", kDownloadMode},
        {RunOutcome::TimedOutAfterAck, TileState::Failed, "통신 오류", kCable},
        {RunOutcome::Refused, TileState::Failed, "다운로드 실패", kRunAgain},
        // Every frame acknowledged, the closing bytes held back: not loaded.
        {RunOutcome::EndHeld, TileState::Failed, "다운로드 실패", kRunAgain},
        {RunOutcome::Stopped, TileState::Idle, "중지됨", ""},
        {RunOutcome::PortOpenFailed, TileState::Failed, "Port open fail", "COM 포트 설정이 맞는지 확인."},
        {RunOutcome::ThreadFailed, TileState::Failed, "다운로드 실패", kRunAgain},
        {RunOutcome::NothingToSend, TileState::Failed, "다운로드 실패", ""},
        {RunOutcome::FileError, TileState::Failed, "다운로드 실패", ""},
    };
    RunStats stats;
    stats.frames = 3;
    stats.acknowledged = 1;
    stats.seconds = 1.25;
    for (const auto& c : cases) {
        const PortResult result = RunResult("COM1", "/dev/ttyUSB0", c.outcome, stats);
        SCOPED_TRACE(result.words);
        CStationTile tile({"COM1", {}});
        tile.Finish(result);
        const TileView& v = tile.View();
        EXPECT_EQ(v.state, c.state);
        EXPECT_EQ(v.word, c.word);
        EXPECT_EQ(v.hint, c.hint);
        // Why, in the notices' words (their table is the texts' own test).
        const std::string why =
            c.outcome == RunOutcome::PortOpenFailed ? PortOpenFailedReason({}) : OutcomeReason(c.outcome, stats);
        EXPECT_EQ(v.detail, c.state == TileState::Complete ? "1.25 초" : why);
        EXPECT_EQ(v.acknowledged, 1u);
        EXPECT_EQ(v.completed, c.state == TileState::Complete ? 1u : 0u);
        EXPECT_EQ(v.failed, c.state == TileState::Failed ? 1u : 0u);
    }
}

// A run's end, or a start that fails, reaches its tile, the station's
// counters, its record line and the sounds; the run's figures come along.
TEST_F(StationLogicTest, EveryWayARunEndsReachesItsTileCountersRecordAndSound)
{
    const struct {
        const char* outcome;  // the record's outcome column
        std::function<void(FakeSerialPort&)> script;
        TileState state;
        const char* detail;  // a part of the tile's detail line
    } cases[] = {
        {"completed", [](auto& p) { p.line.replies = AckAll(kFrames); }, TileState::Complete, " 초"},
        {"timed-out-after-ack",
         [](auto& p) {
             p.line.replies = {{0, {{10, kAck}}}};
             p.line.goneAtMs = 2000;
         },
         TileState::Failed, "포트가 사라졌습니다 (케이블이나 어댑터가 뽑혔습니까?). 확인된 프레임 1/3"},
        {"port-open-failed", [](auto& p) { p.openFails = true; }, TileState::Failed,
         "포트를 열 수 없습니다: /dev/veltrad-fake-3"},
        {"stopped",
         [](auto& p) {
             p.line.replies = {{0, {{10, kAck}}}};
             p.line.closeAtMs = 1000;
         },
         TileState::Idle, "확인된 프레임 1/3"},
    };
    Make("COM1 COM2 COM3 COM4", std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        cases[i].script(*lines[i]);
    StartAllAndDeliver();

    const auto records = RecordLines(dir / "records");
    ASSERT_EQ(records.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].detail);
        const TileView& tile = view.tiles.at(i);
        EXPECT_EQ(tile.state, cases[i].state);
        EXPECT_NE(tile.detail.find(cases[i].detail), std::string::npos) << tile.detail;
        EXPECT_EQ(tile.completed, cases[i].state == TileState::Complete ? 1u : 0u);
        EXPECT_EQ(tile.failed, cases[i].state == TileState::Failed ? 1u : 0u);
        EXPECT_TRUE(tile.canStart);
        EXPECT_FALSE(tile.canStop);
        // In the order the runs ended: a port that does not open is known at once.
        const std::string port = "COM" + std::to_string(i + 1);
        const auto at =
            std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.at(kPort) == port; });
        ASSERT_NE(at, records.end());
        const auto& r = *at;
        ASSERT_EQ(r.size(), 15u);
        EXPECT_EQ(r[kDevice], FakeDevice(static_cast<int>(i + 1)));
        EXPECT_EQ(r[kAdapter], "A" + std::to_string(i + 1));
        EXPECT_EQ(r[kOutcome], cases[i].outcome);
        EXPECT_EQ(r[kSha256], logic->JobData().sha256);
        EXPECT_EQ(r[kSize], std::to_string(kFrames * 128));
        EXPECT_EQ(r[kSerial], "-");
        EXPECT_EQ(r[kStation], kHost);
        EXPECT_EQ(r[kJob], "main board");
    }
    EXPECT_EQ(view.counters.completed, 1u);
    EXPECT_EQ(view.counters.failed, 2u);
    EXPECT_EQ(view.counters.loading, 0u);
    EXPECT_EQ(std::count(view.sounds.begin(), view.sounds.end(), StationSound::Complete), 1);
    EXPECT_EQ(std::count(view.sounds.begin(), view.sounds.end(), StationSound::Failed), 2);
    EXPECT_TRUE(view.messages.empty());

    // Counters add up from run to run until a job is opened.
    lines[0]->line.transmissions = 0;
    logic->OnStartTile(0);
    logic->DeliverEvents();
    EXPECT_EQ(view.tiles[0].completed, 2u);
    EXPECT_EQ(view.counters.completed, 2u);
    EXPECT_EQ(RecordLines(dir / "records").size(), std::size(cases) + 1);
    const fs::path job = dir / "line.job";
    ASSERT_TRUE(logic->SaveJob(job));
    ASSERT_TRUE(logic->OpenJob(job));
    EXPECT_EQ(view.counters.completed + view.counters.failed, 0u);
    EXPECT_EQ(view.tiles[0].completed, 0u);
}

TEST_F(StationLogicTest, AnImageThatIsNotTheApprovedOneStartsNothing)
{
    const struct {
        const char* name;
        std::function<void()> change;
        const char* message;
    } cases[] = {
        {"one byte changed",
         [&] {
             std::vector<std::uint8_t> bytes(kFrames * 128, 0x5A);
             bytes.back() = 0x5B;
             dir.Write("image.bin", bytes);
         },
         station_text::kImageChanged},
        {"removed", [&] { fs::remove(image); }, station_text::kImageUnreadable},
        {"a folder now", [&] { fs::remove(image), fs::create_directory(image); }, station_text::kImageUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Make("COM1 COM2", 2);
        view.messages.clear();
        c.change();
        StartAllAndDeliver();
        logic->OnStartTile(1);
        logic->DeliverEvents();
        ASSERT_EQ(view.messages.size(), 2u);
        EXPECT_EQ(view.messages[0].text, c.message);
        EXPECT_FALSE(view.messages[0].detail.empty());
        for (const auto& line : lines)
            EXPECT_TRUE(line->opened.empty());
        // Back as they were before the check.
        for (const TileView& tile : view.tiles) {
            EXPECT_EQ(tile.state, TileState::Idle);
            EXPECT_EQ(tile.word, "대기");
            EXPECT_TRUE(tile.canStart);
        }
        fs::remove_all(image);
        dir.Write("image.bin", std::vector<std::uint8_t>(kFrames * 128, 0x5A));
    }
    // The same bytes again are the approved image, whatever the file's date.
    lines[0]->line.replies = AckAll(kFrames);
    logic->OnStartTile(0);
    logic->DeliverEvents();
    EXPECT_EQ(view.tiles[0].state, TileState::Complete);
}

// A number goes to the tile that waits for one, never in place of another
// without the operator choosing that tile; a scan that no tile waits for is
// refused with a word and the error sound.
TEST_F(StationLogicTest, ANumberGoesToATileThatWaitsForOneAndIsNeverReplacedSilently)
{
    Make("COM1 COM2 COM3 COM4", 4);
    logic->OnEditJob();
    logic->OnSerialNumbers(true);
    for (auto& line : lines)
        line->line.replies = AckAll(kFrames);
    devices.erase(devices.begin() + 3);  // COM4's adapter is unplugged
    logic->OnDevicesChanged();
    const auto enter = [&](const std::string& field, std::uint32_t ms) {
        return logic->OnKey(ScanKey::Enter, KeyFocus::SerialField, field, ms);
    };
    const auto scan = [&](const std::string& number) { logic->OnSerialEntered(number); };

    constexpr auto kNone = std::nullopt;
    const struct {
        const char* what;
        std::function<void()> act;
        std::optional<std::size_t> target;  // where the next number goes
        std::vector<std::string> numbers;   // of tiles 1 to 4 afterwards
        bool refusedLast;                   // the last scan was refused: said beside the field
        int errorSounds;                    // so far
    } steps[] = {
        {"none yet", [] {}, 0, {"", "", "", ""}, false, 0},
        {"a scan", [&] { EXPECT_EQ(enter("SN-1\r\n", 0), KeyRoute::Number); }, 1, {"SN-1", "", "", ""}, false, 0},
        {"blanks around", [&] { scan("  SN-2 "); }, 2, {"SN-1", "SN-2", "", ""}, false, 0},
        // Enter alone: the tiles with a number wait for the image's check.
        {"Enter alone", [&] { EXPECT_EQ(enter("", 1000), KeyRoute::StartAll); }, 2, {"SN-1", "SN-2", "", ""}, false, 0},
        // The selected tile (COM2, the last to take one) loads: the next that waits takes it.
        {"while loading", [&] { scan("SN-3"); }, kNone, {"SN-1", "SN-2", "SN-3", ""}, false, 0},
        {"no tile waits", [&] { scan("SN-4"); }, kNone, {"SN-1", "SN-2", "SN-3", ""}, true, 1},
        // A loading tile cannot be chosen for a number.
        {"chosen, loading",
         [&] { logic->OnSelectTile(0), scan("SN-4"); },
         kNone,
         {"SN-1", "SN-2", "SN-3", ""},
         true,
         2},
        // Loaded: a completed unit's number is done with.
        {"the runs end", [&] { logic->DeliverEvents(); }, 0, {"", "", "SN-3", ""}, true, 2},
        {"after them", [&] { scan("SN-5"); }, 1, {"SN-5", "", "SN-3", ""}, false, 2},
        // Chosen by the operator: its number is replaced, and the next goes on from there.
        {"a tile chosen", [&] { logic->OnSelectTile(2); }, 2, {"SN-5", "", "SN-3", ""}, false, 2},
        {"replaced", [&] { scan("SN-9"); }, 1, {"SN-5", "", "SN-9", ""}, false, 2},
        // Chosen, the unplugged tile takes one too.
        {"chosen, unplugged", [&] { logic->OnSelectTile(3), scan("SN-6"); }, 1, {"SN-5", "", "SN-9", "SN-6"}, false, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(logic->Selected(), step.target);
        for (std::size_t i = 0; i < 4; ++i) {
            const TileView& tile = view.tiles[i];
            EXPECT_EQ(tile.serialNumber, step.numbers[i]) << i;
            EXPECT_EQ(tile.selected, step.target == i) << i;
        }
        EXPECT_EQ(view.scanStatus, step.refusedLast ? "SN-4: " + std::string(station_text::kNoTileForNumber) : "");
        EXPECT_EQ(std::count(view.sounds.begin(), view.sounds.end(), StationSound::Failed), step.errorSounds);
    }
    const auto records = RecordLines(dir / "records");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][kSerial], "SN-1");
    EXPECT_EQ(records[1][kSerial], "SN-2");
    EXPECT_TRUE(lines[2]->opened.empty());
}

// Which keys are a scan: those within kScanKeyGapMs of the key before. The
// route of each key of a sequence, pressed at the given times.
TEST(ScanKeys, AScanIsKeysCloserThanTheGapAndItsEnterNeverStarts)
{
    using enum ScanKey;
    using enum KeyRoute;
    constexpr KeyFocus kField = KeyFocus::SerialField, kText = KeyFocus::TextField, kElse = KeyFocus::Elsewhere;
    constexpr std::uint32_t kGap = kScanKeyGapMs;
    struct Key {
        ScanKey key;
        KeyFocus focus;
        bool fieldEmpty;
        std::uint32_t ms;
        KeyRoute route;
    };
    const struct {
        const char* what;
        std::vector<Key> keys;
    } cases[] = {
        {"a scan in the field, CR LF, then Enter by hand",
         {{Character, kField, true, 0, AsUsual},
          {Tab, kField, false, 1, IntoField},
          {Character, kField, false, 2, AsUsual},
          {Enter, kField, false, 3, Number},
          {Enter, kField, true, 4, Dropped},
          {Enter, kField, true, 4 + kGap - 1, Dropped},
          {Enter, kField, true, 4 + 2 * kGap - 1, StartAll}}},
        {"a scan with a button focused",
         {{Character, kElse, true, 100, IntoField},
          {Space, kElse, false, 101, IntoField},
          {Tab, kElse, false, 102, IntoField},
          {Enter, kElse, false, 103, Number}}},
        {"a hand on a button",
         {{Space, kElse, true, 0, AsUsual},
          {Tab, kElse, true, kGap, AsUsual},
          {Space, kElse, true, 2 * kGap, AsUsual},
          {Enter, kElse, true, 3 * kGap, StartAll},
          {Character, kElse, true, 4 * kGap, IntoField}}},
        {"typing the job's name",
         {{Character, kText, true, 0, AsUsual},
          {Tab, kText, true, 1, Dropped},
          {Enter, kText, true, 2, AsUsual},
          {Tab, kText, true, 2 + kGap, AsUsual}}},
        {"the key time wraps",
         {{Character, kField, true, 0xFFFFFFFFu - 4, AsUsual}, {Enter, kField, true, kGap - 6, Dropped}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CScanKeys keys;
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            const Key& k = c.keys[i];
            EXPECT_EQ(keys.Route(k.key, k.focus, k.fieldEmpty, k.ms), k.route) << "key " << i;
        }
    }
}

// An unplugged tile keeps its last result until its next run and says
// beside it that the adapter is gone; a tile that never ran is only gone.
TEST_F(StationLogicTest, AnUnpluggedTileKeepsItsLastResult)
{
    Make("COM1 COM2 COM3", 3);
    lines[0]->line.replies = {{0, {{10, kAck}}}};  // then silent: 통신 오류
    lines[1]->line.replies = AckAll(kFrames);
    logic->OnStartTile(0);
    logic->OnStartTile(1);
    logic->DeliverEvents();
    const TileView failed = view.tiles[0];
    ASSERT_EQ(failed.state, TileState::Failed);
    const struct {
        bool present;
        const char* words[3];
    } steps[] = {
        {false, {"통신 오류 · 연결 안 됨", "다운로드 완료 · 연결 안 됨", "연결 안 됨"}},
        {true, {"통신 오류", "다운로드 완료", "대기"}},
    };
    const std::vector<SerialDeviceInfo> plugged = devices;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.present);
        devices = step.present ? plugged : std::vector<SerialDeviceInfo>(plugged.begin() + 3, plugged.end());
        logic->OnDevicesChanged();
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(view.tiles[i].word, step.words[i]) << i;
        EXPECT_EQ(view.tiles[0].state, TileState::Failed);
        EXPECT_EQ(view.tiles[0].detail, failed.detail);
        EXPECT_EQ(view.tiles[0].hint, failed.hint);
        EXPECT_EQ(view.tiles[0].acknowledged, 1u);
        EXPECT_EQ(view.tiles[2].state, step.present ? TileState::Idle : TileState::NotPresent);
        for (const TileView& tile : view.tiles)
            EXPECT_EQ(tile.canStart, step.present);
    }
}

// The start says once that the settings file cannot be read, then opens the
// job; a signal while a message is up ends the station there.
TEST_F(StationLogicTest, TheStartSaysASettingsFileThatCannotBeReadAndOpensTheJob)
{
    const std::string binary("[Ports]\n\x01\x02\0\xff", 13);
    const struct {
        const char* what;
        std::optional<std::string> settings;  // nullopt: no file
        bool signalled;                       // while a message is up
        std::size_t messages;
        bool began;
    } cases[] = {
        {"no settings", std::nullopt, false, 0, true},
        {"ports", "[Ports]\nCOM3=/dev/ttyACM0\n", false, 0, true},
        {"binary", binary, false, 1, true},
        {"a signal", binary, true, 1, false},
    };
    Make("COM1", 1);
    const fs::path job = dir / "line.job";
    ASSERT_TRUE(logic->SaveJob(job));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Make("", 0);
        view.messages.clear();
        view.onMessage = c.signalled ? std::function<void()>([&] { logic->OnEndRequested(); }) : nullptr;
        const fs::path file = c.settings ? dir.WriteText("Veltrad.INI", *c.settings) : dir / "missing.INI";
        EXPECT_EQ(logic->Begin(CProfile(file), job), c.began);
        ASSERT_EQ(view.messages.size(), c.messages);
        if (c.messages) {
            EXPECT_EQ(view.messages[0].text, kSettingsUnreadable);
            EXPECT_EQ(view.messages[0].detail.rfind(file.string() + ": ", 0), 0u) << view.messages[0].detail;
        }
        EXPECT_EQ(view.job.file, c.began ? job.string() : "");
        EXPECT_EQ(logic->Ended(), !c.began);
    }
}

TEST_F(StationLogicTest, ABoundTileFollowsItsUsbSocketWhenTheDeviceNumberChanges)
{
    const std::string socket = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0";
    devices[0].byPath = socket;
    Make("COM1 COM2", 2);
    EXPECT_EQ(logic->JobData().tiles[0].location, socket);
    EXPECT_EQ(logic->JobData().tiles[1].location, "");

    const struct {
        std::string device;  // what sits in the socket now; empty: nothing
        bool present;
    } steps[] = {
        {"", false},
        {"/dev/ttyUSB3", true},
        {"/dev/ttyUSB0", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.device);
        devices[0].device = step.device.empty() ? "/dev/ttyUSB9" : step.device;
        devices[0].byPath = step.device.empty() ? "" : socket;
        logic->OnDevicesChanged();
        const TileView& tile = view.tiles[0];
        EXPECT_EQ(tile.state, step.present ? TileState::Idle : TileState::NotPresent);
        EXPECT_EQ(tile.device, step.device);
        EXPECT_EQ(tile.canStart, step.present);
        EXPECT_EQ(tile.name, "COM1");
        // The unbound tile stays with its port's device.
        EXPECT_EQ(view.tiles[1].device, FakeDevice(2));
    }
    lines[0]->line.replies = AckAll(kFrames);
    StartAllAndDeliver();
    EXPECT_EQ(lines[0]->opened, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(RecordLines(dir / "records")[0][kPort], "COM1");
}

TEST_F(StationLogicTest, AnOpenedJobIsLockedUntilEditAndASavedOneComesBackWhole)
{
    Make("COM1 COM2", 2);
    logic->OnSounds(false);
    logic->OnRecordsFolder(dir / "elsewhere");
    const fs::path file = dir / "line.job";
    ASSERT_TRUE(logic->SaveJob(file));
    const StationJob saved = logic->JobData();

    ASSERT_TRUE(logic->OpenJob(file));
    logic->DeliverEvents();  // the image's check
    EXPECT_EQ(view.job.frames, static_cast<std::uint32_t>(kFrames));
    EXPECT_EQ(logic->JobData(), saved);
    EXPECT_TRUE(view.job.locked);
    EXPECT_EQ(view.job.shaShort, saved.sha256.substr(0, 16));
    EXPECT_EQ(view.job.records, (dir / "elsewhere").string());
    logic->OnJobName("changed");
    logic->OnNewJob();
    EXPECT_FALSE(logic->OnPortsText("COM3"));
    EXPECT_FALSE(logic->SetImage(image));
    EXPECT_EQ(logic->JobData(), saved);
    logic->OnEditJob();
    EXPECT_FALSE(view.job.locked);
    logic->OnJobName("changed");
    EXPECT_EQ(view.job.name, "changed");
    EXPECT_TRUE(view.messages.empty());
}

// Which files are refused is StationJobTest's; here what the station says.
TEST_F(StationLogicTest, AJobFileThatIsNoJobIsSaidAndTheJobOnScreenStays)
{
    const struct {
        std::string text;
        const char* detail;  // after the file's name
    } cases[] = {
        {"[Job]\nName=x\nColour=red\n", ": 3번째 줄: [Job]에 알 수 없는 키입니다: Colour"},
        {"[Job]\n[Tile1]\nPort=COM1\n[Tile2]\nport=com01\n",
         ": 5번째 줄: COM1, com01: 같은 포트가 두 번 있습니다 (처음은 3번째 줄)"},
        {"[Tile1]\nPort=COM1\n", ": [Job] 섹션이 없습니다. 작업 파일이 아닙니다"},
    };
    Make("COM1", 1);
    const StationJob before = logic->JobData();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        view.messages.clear();
        const fs::path file = dir.WriteText("bad.job", c.text);
        EXPECT_FALSE(logic->OpenJob(file));
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, station_text::kJobUnreadable);
        EXPECT_EQ(view.messages[0].detail, file.string() + c.detail);
        EXPECT_EQ(logic->JobData(), before);
        EXPECT_FALSE(view.job.locked);
    }
}

TEST_F(StationLogicTest, PortsAreSixteenAtMostEachOnce)
{
    std::string sixteen;
    for (int n = 1; n <= 16; ++n)
        sixteen += "COM" + std::to_string(n) + (n % 2 ? "," : " ");
    const struct {
        std::string text;
        std::size_t tiles;  // afterwards; the earlier two when refused
        const char* message;
    } cases[] = {
        {"COM3;COM4,\t/dev/ttyACM0 ", 3, nullptr},
        {sixteen, 16, nullptr},
        {sixteen + "COM17", 2, station_text::kTooManyPorts},
        {"COM3 com3", 2, station_text::kPortTwice},
        {"COM1 " + FakeDevice(1), 2, station_text::kPortTwice},  // a COM name and its device
        {"COM3 COM51", 2, station_text::kNoSuchPort},
        {"COM0", 2, station_text::kNoSuchPort},
        {"", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Make("COM1 COM2", 2);
        view.messages.clear();
        EXPECT_EQ(logic->OnPortsText(c.text), c.message == nullptr);
        EXPECT_EQ(view.tiles.size(), c.tiles);
        EXPECT_EQ(logic->JobData().tiles.size(), c.tiles);
        ASSERT_EQ(view.messages.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(view.messages[0].text, c.message);
        }
    }
}

// Each record line is kept until it can be written: a box when a cause
// shows, the count on the counters each time, the lines written at the next
// tick, and those still kept at the end in a file of their own.
TEST_F(StationLogicTest, RecordsThatCannotBeWrittenAreKeptToldAndWrittenWhenTheyCan)
{
    namespace text = station_text;
    Make("COM1 COM2", 2);
    const fs::path folder = dir / "line-records";
    const auto runAll = [&] {
        for (auto& line : lines) {
            line->line.transmissions = 0;
            line->line.replies = AckAll(kFrames);
        }
        StartAllAndDeliver();
    };
    dir.WriteText("line-records", "a file where the folder should be");
    logic->OnRecordsFolder(folder);
    runAll();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, text::kRecordsPending);
    EXPECT_NE(view.messages[0].detail.find(text::kCauseNoFolder), std::string::npos);
    EXPECT_EQ(view.counters.pendingRecords, 2u);
    EXPECT_EQ(view.counters.recordsCause, text::kCauseNoFolder);
    EXPECT_EQ(view.tiles[0].state, TileState::Complete);
    EXPECT_EQ(view.counters.completed, 2u);
    runAll();
    EXPECT_EQ(view.messages.size(), 1u) << "the same cause: no second box";
    EXPECT_EQ(view.counters.pendingRecords, 4u);

    fs::remove(folder);
    logic->OnTick();
    EXPECT_EQ(view.counters.pendingRecords, 0u);
    EXPECT_EQ(view.counters.recordsCause, "");
    EXPECT_EQ(RecordLines(folder).size(), 4u);

    fs::rename(folder, dir / "archived");
    dir.WriteText("line-records", "in the way again");
    runAll();
    logic->OnCloseRequested();
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages.back().text, text::kRecordsKept);
    const fs::path kept = PathFromUtf8(view.messages.back().detail);
    EXPECT_EQ(kept.parent_path(), dir / "records");
    EXPECT_EQ(RecordLines(dir / "records").size(), 2u);
    ASSERT_TRUE(logic->KeptAtEnd());
    EXPECT_EQ(logic->KeptAtEnd()->file, kept);
}

TEST(ViewTexts, TheImageLineShowsNoSizeItDoesNotKnow)
{
    JobView job;
    EXPECT_EQ(JobImageText(job), "");
    job.imageName = "big.bin";  // framing failed at the job's opening
    EXPECT_EQ(JobImageText(job), "big.bin");
    job.sizeText = "6400 Byte";
    job.frames = 50;
    EXPECT_EQ(JobImageText(job), "big.bin  (6400 Byte, 50 프레임)");
}

}  // namespace
}  // namespace veltrad::test
