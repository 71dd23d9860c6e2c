// The main window's logic with a fake view, a scripted port and a fake clock.
// The run's worker runs inline (or when the test says), so every case is
// deterministic, single-threaded and takes milliseconds. The exchange's own
// outcomes are shown in tests/download; here only what the window makes of them.

#include "window/WindowLogic.h"
#include "window/ReasonTexts.h"

#include "common/TempDir.h"
#include "common/Utf16Bytes.h"
#include "download/DownloadRun.h"
#include "download/ScriptedPort.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <system_error>

namespace veltrad::test {
namespace {

class FakeView final : public IWindowView {
public:
    void ShowPorts(const std::vector<PortEntry>& p, int s) override { ports = p, selected = s; }
    void ShowFile(const std::string& n, const std::string& s) override { name = n, size = s; }
    void SetProgressRange(std::uint32_t m) override { range = m; }
    void SetProgressPos(std::uint32_t p) override { pos = p; }
    void EnableControls(bool e) override { enabled = e; }
    void ShowNotice(Notice n) override { notices.push_back(n); }
    void ShowMessage(const WindowMessage& m) override { messages.push_back(m); }
    void ShowAbout() override { ++abouts; }
    std::optional<std::filesystem::path> ChooseFile() override { return choice; }
    void EndDialog(bool ok) override
    {
        if (onEnd)
            onEnd();
        ended.push_back(ok);
    }
    void PostRunEvents() override { ++posts; }
    void OnRunEnded(std::uint64_t, RunOutcome o) override { outcomes.push_back(o); }

    std::vector<PortEntry> ports;
    int selected = -2;
    std::string name, size;
    std::uint32_t range = 0, pos = 99;
    bool enabled = true;
    std::vector<Notice> notices;
    std::vector<WindowMessage> messages;
    int abouts = 0, posts = 0;
    std::optional<std::filesystem::path> choice;
    std::vector<bool> ended;
    std::function<void()> onEnd;
    std::vector<RunOutcome> outcomes;
};

class WindowLogicTest : public ::testing::Test {
protected:
    // A new view, port and logic, started as the window starts; the worker
    // runs inline unless deferred, then it waits in pendingWorker.
    void Start(bool deferWorker = false, std::map<int, std::vector<ScriptedReply>> replies = {})
    {
        logic.reset();
        view = FakeView();
        port = std::make_unique<ScriptedSerialPort>(clock, log);
        port->openable = {1, 3, 12, 50};
        port->line.replies = std::move(replies);
        logic = std::make_unique<CWindowLogic>(view, CProfile(dir / "Veltrad.INI"), &clock, port.get());
        logic->SetPortSource([this] {
            ++listings;
            return present;
        });
        logic->Run().SetThreadLauncher([this, deferWorker](std::function<void()> body) {
            if (deferWorker)
                pendingWorker = std::move(body);
            else
                body();
            return std::thread();
        });
        logic->OnInitDialog();
    }
    // A file of `frames` non-zero blocks, chosen in the open-file dialog.
    void ChooseImage(int frames)
    {
        view.choice = dir.Write("image.bin", std::vector<std::uint8_t>(frames * 128, 0x5A));
        logic->OnOpenFile();
    }

    TempDir dir;
    FakeClock clock;
    std::vector<std::string> log;
    std::unique_ptr<ScriptedSerialPort> port;
    FakeView view;
    std::unique_ptr<CWindowLogic> logic;
    std::function<void()> pendingWorker;
    std::vector<SerialDeviceInfo> present;  // the devices the port list finds
    int listings = 0;
};

TEST_F(WindowLogicTest, StartSelectsTheSavedIndexAndTestOpensItsPort)
{
    const struct {
        std::optional<std::string> settings;  // nullopt: no file
        int selected;
        std::uint16_t port;
        std::vector<std::string> messages;
    } cases[] = {
        {std::nullopt, 0, 1, {}},
        {"[ComPort]\nPort Num=49\n", 49, 50, {}},
        {Utf16Le("[ComPort]\r\nPort Num=11\r\n"), 11, 12, {}},
        {"[ComPort]\nPort Num=50\n", -1, 0, {"Port open fail : COM0"}},
        {"[ComPort]\nPort Num=-1\n", -1, 0, {"Port open fail : COM0"}},
        {"[ComPort]\nPort Num=4\n", 4, 5, {"Port open fail : COM5"}},
        // Said once, before the port, which is then the default's.
        {Utf16Le("[ComPort]\r\nPort Num=4\r\n") + "x", 0, 1, {kSettingsUnreadable}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.settings));
        std::filesystem::remove(dir / "Veltrad.INI");
        if (c.settings)
            dir.WriteText("Veltrad.INI", *c.settings);
        Start();
        EXPECT_EQ(view.selected, c.selected);
        EXPECT_EQ(logic->PortNumber(), c.port);
        EXPECT_EQ(port->opened, std::vector<std::string>{"COM" + std::to_string(c.port)});
        EXPECT_FALSE(port->IsConnected()) << "a test-open leaves the port closed";
        std::vector<std::string> messages;
        for (const WindowMessage& m : view.messages)
            messages.push_back(m.text);
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(view.pos, 0u);
    }
    EXPECT_EQ(view.messages[0].detail,
              (dir / "Veltrad.INI").string() + ": UTF-8이나 UTF-16 텍스트가 아닙니다 (3번째 줄)");
}

TEST_F(WindowLogicTest, PortListMarksPresentDevicesAndIsRefreshedWhenItOpens)
{
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=2\n[Ports]\nCOM7=" + byId + "\n");
    SerialDeviceInfo ftdi, uart;
    ftdi.device = "/dev/ttyUSB0";
    ftdi.driver = "ftdi_sio";
    ftdi.product = "FT232R USB UART";
    ftdi.byId = byId;
    uart.device = "/dev/ttyS1";
    uart.driver = "serial8250";
    present = {ftdi, uart};
    Start();

    ASSERT_EQ(view.ports.size(), 50u);
    EXPECT_EQ(view.ports.back().name, "COM50");
    const auto marked = [&] {
        std::vector<int> ports;
        for (std::size_t i = 0; i < view.ports.size(); ++i)
            if (view.ports[i].present)
                ports.push_back(static_cast<int>(i) + 1);
        return ports;
    };
    EXPECT_EQ(marked(), (std::vector<int>{2, 7, 33}));  // ttyS1; the adapter by its link and by default
    EXPECT_EQ(PortToolTip(view.ports[6]), byId + ": FT232R USB UART");
    EXPECT_EQ(PortToolTip(view.ports[1]), "/dev/ttyS1: serial8250");
    EXPECT_EQ(PortToolTip(view.ports[0]), "/dev/ttyS0");
    EXPECT_EQ(listings, 1);

    // The adapter is pulled; the marks follow when the list opens, and
    // nothing else changes: the entries, the selection, no test-open.
    present = {uart};
    const std::size_t opens = port->opened.size();
    view.selected = -2;
    logic->OnPortListOpening();
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(marked(), (std::vector<int>{2}));
    EXPECT_EQ(PortToolTip(view.ports[6]), byId);
    EXPECT_EQ(view.selected, 2);
    EXPECT_EQ(port->opened.size(), opens);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(WindowLogicTest, EachOutcomeShowsItsNoticeAndGivesTheControlsBack)
{
    const std::vector<ScriptedReply> ack{{1, kAck}}, nak{{1, kNak}};
    const struct {
        const char* name;
        std::map<int, std::vector<ScriptedReply>> replies;
        Notice notice;
        RunOutcome outcome;
        std::uint32_t pos;  // the bar at the end
        bool portOpen;
    } cases[] = {
        {"complete", {{0, ack}, {1, ack}}, Notice::Complete, RunOutcome::Completed, 0, false},
        {"silent", {}, Notice::CommError, RunOutcome::TimedOut, 0, true},
        {"silent after an ACK", {{0, ack}}, Notice::CommErrorRetry, RunOutcome::TimedOutAfterAck, 1, true},
        {"refused", {{0, nak}, {1, nak}, {2, nak}, {3, nak}, {4, nak}}, Notice::Fail, RunOutcome::Refused, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(false, c.replies);
        ChooseImage(2);
        logic->OnDownload();
        logic->DeliverRunEvents();
        EXPECT_EQ(view.range, 2u);
        EXPECT_EQ(view.notices, std::vector<Notice>{c.notice});
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{c.outcome});
        EXPECT_TRUE(view.enabled);
        EXPECT_EQ(view.pos, c.pos);
        EXPECT_EQ(port->IsConnected(), c.portOpen);
        EXPECT_EQ(view.posts, 1) << "one wake-up for the batch";
    }
}

// A file that cannot be read shows its name, no stale size, and says why; so
// does every start that fails, which leaves the controls alone.
TEST_F(WindowLogicTest, FileChoiceAndStartFailuresSayWhy)
{
    Start();
    logic->OnOpenFile();  // cancelled
    EXPECT_EQ(logic->FileName(), "");
    logic->OnDownload();  // no file chosen
    ChooseImage(3);
    EXPECT_EQ(view.name, "image.bin");
    EXPECT_EQ(view.size, "384 Byte");
    view.choice = dir / "missing.bin";
    logic->OnOpenFile();
    EXPECT_EQ(view.name, "missing.bin");
    EXPECT_EQ(view.size, "");
    view.choice = dir.Write("zeros.bin", std::vector<std::uint8_t>(1000, 0));
    logic->OnOpenFile();
    logic->OnDownload();
    ChooseImage(1);
    logic->OnSelChangePort(3);  // COM4 does not open
    logic->OnDownload();
    logic->OnSelChangePort(11);  // COM12 does, and says nothing
    EXPECT_EQ(port->opened.back(), "COM12");
    logic->Run().SetThreadLauncher([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    logic->OnDownload();

    const std::vector<WindowMessage> expected = {
        {"파일을 읽을 수 없습니다.", "파일을 선택하지 않았습니다"},
        {"파일을 읽을 수 없습니다.", (dir / "missing.bin").string() + ": 그런 파일이나 폴더가 없습니다"},
        {"보낼 데이터가 없습니다: zeros.bin의 모든 바이트가 0입니다.", "포트를 열지 않았습니다."},
        {"Port open fail : COM4", "/dev/fake4: 그런 장치가 없습니다"},  // the test-open on the change
        {"Port open fail : COM4", "/dev/fake4: 그런 장치가 없습니다"},  // the download's open
        {"다운로드를 시작할 수 없습니다.", "시스템이 스레드를 더 만들 수 없습니다. 포트를 다시 닫았습니다."},
    };
    ASSERT_EQ(view.messages.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(view.messages[i].text, expected[i].text);
        EXPECT_EQ(view.messages[i].detail, expected[i].detail);
    }
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(port->IsConnected());
    EXPECT_EQ(view.posts, 0);
}

// The build pass of each start reads the file again: a file changed since
// it was picked shows its new size during the run; one that can no longer
// be read keeps the size shown.
TEST_F(WindowLogicTest, EachStartShowsTheSizeTheBuildPassRead)
{
    Start(/*deferWorker=*/true);
    ChooseImage(3);
    EXPECT_EQ(view.size, "384 Byte");
    dir.Write("image.bin", std::vector<std::uint8_t>(5 * 128, 0x5A));
    logic->OnDownload();
    EXPECT_FALSE(view.enabled) << "running";
    EXPECT_EQ(view.size, "640 Byte");
    EXPECT_EQ(logic->FileSizeText(), "640 Byte");
    logic->OnStop();
    pendingWorker();
    std::filesystem::remove(dir / "image.bin");
    logic->OnDownload();
    EXPECT_EQ(view.size, "640 Byte");
    EXPECT_EQ(view.messages.size(), 1u);
}

// Enter pressed again after the start is the hand's habit: for the first
// seconds of a run, and whenever the keyboard repeats it, it acts on no
// button; idle, and once the quiet is over, it does as ever.
TEST_F(WindowLogicTest, EnterWaitsAfterTheStart)
{
    Start(/*deferWorker=*/true, {{0, {{1, kAck}}}});
    EXPECT_TRUE(logic->TakesEnter(false)) << "idle";
    ChooseImage(1);
    clock.now = 1000;
    logic->OnDownload();
    const struct {
        std::uint32_t now;
        bool repeat;
        bool takes;
    } cases[] = {
        {1000, false, false},
        {1000 + kRunStartQuietMs - 1, false, false},
        {1000 + kRunStartQuietMs, true, false},
        {1000 + kRunStartQuietMs, false, true},
    };
    for (const auto& c : cases) {
        clock.now = c.now;
        EXPECT_EQ(logic->TakesEnter(c.repeat), c.takes) << c.now << (c.repeat ? " repeated" : "");
    }
    pendingWorker();
    logic->DeliverRunEvents();
    EXPECT_TRUE(logic->TakesEnter(true)) << "idle again";
}

// A stop gives the controls back at once; a run it cuts short shows no
// notice and moves the bar no more, but a last ACK still completes it. The
// session's end stops as the stop button would and drops the run's events,
// and the window stays, should the logout be cancelled.
TEST_F(WindowLogicTest, StopEndsTheRunWithoutANotice)
{
    const struct {
        const char* name;
        void (CWindowLogic::*stop)();
        int frames;
        bool afterFirstAck;  // the worker ran to its end before the stop
        std::vector<Notice> notices;
        std::vector<RunOutcome> outcomes;
    } cases[] = {
        {"before the worker runs", &CWindowLogic::OnStop, 2, false, {}, {RunOutcome::Stopped}},
        {"after the first of two ACKs", &CWindowLogic::OnStop, 2, true, {}, {RunOutcome::Stopped}},
        // The closing bytes cannot leave a closed port: the terminal has not got its end.
        {"after the last ACK", &CWindowLogic::OnStop, 1, true, {}, {RunOutcome::Stopped}},
        {"session ends after the last ACK", &CWindowLogic::OnSessionEnding, 1, true, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Start(/*deferWorker=*/true, {{0, {{1, kAck}}}});
        port->line.closeAfterRead = 1;  // where the stop lands in a worker run first
        ChooseImage(c.frames);
        logic->OnDownload();
        EXPECT_FALSE(view.enabled);
        if (c.afterFirstAck)
            pendingWorker();  // its events wait in the queue
        ((*logic).*c.stop)();
        EXPECT_TRUE(view.enabled);
        EXPECT_FALSE(port->IsConnected());
        if (!c.afterFirstAck)
            pendingWorker();
        logic->DeliverRunEvents();
        EXPECT_EQ(view.pos, 0u);
        EXPECT_EQ(view.notices, c.notices);
        EXPECT_EQ(view.outcomes, c.outcomes);
        EXPECT_TRUE(view.ended.empty());
    }
}

// A logoff or restart is refused only while a run is under way; the run
// goes on, and the session may end once it has.
TEST_F(WindowLogicTest, TheSessionMayEndExceptDuringARun)
{
    Start(/*deferWorker=*/true, {{0, {{1, kAck}}}});
    EXPECT_TRUE(logic->MaySessionEnd()) << "idle";
    ChooseImage(1);
    logic->OnDownload();
    EXPECT_FALSE(logic->MaySessionEnd()) << "running";
    EXPECT_TRUE(port->IsConnected()) << "the question stops nothing";
    pendingWorker();
    EXPECT_TRUE(logic->MaySessionEnd()) << "the run ended";
    logic->DeliverRunEvents();
    EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

// Every ending stops the run before the window goes; only the close button
// saves the port index and forgets the file.
TEST_F(WindowLogicTest, EndingsThePortIndexAndTheFile)
{
    const struct {
        const char* name;
        void (CWindowLogic::*end)();
        bool ok;
        bool closeButton;
    } cases[] = {
        {"close button", &CWindowLogic::OnCloseDialog, false, true},
        {"escape", &CWindowLogic::OnCancel, false, false},
        {"enter", &CWindowLogic::OnOK, true, false},
        {"signal", &CWindowLogic::OnEndRequested, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=0\n");
        Start(/*deferWorker=*/true);
        ChooseImage(2);
        logic->OnSelChangePort(2);
        logic->OnDownload();
        bool portOpenAtEnd = true;
        view.onEnd = [&] { portOpenAtEnd = port->IsConnected(); };
        ((*logic).*c.end)();
        EXPECT_EQ(view.ended, std::vector<bool>{c.ok});
        EXPECT_FALSE(portOpenAtEnd) << "the run is stopped before the window goes";
        EXPECT_EQ(TempDir::ReadText(dir / "Veltrad.INI").find("Port Num=2") != std::string::npos, c.closeButton);
        EXPECT_EQ(view.name.empty(), c.closeButton);
        EXPECT_EQ(logic->Image().m_strPathName.empty(), c.closeButton);
        logic->OnEndRequested();  // a second request changes nothing, shows nothing
        logic->OnSelChangePort(3);
        EXPECT_EQ(view.ended.size(), 1u);
        EXPECT_TRUE(view.messages.empty());
    }
}

TEST_F(WindowLogicTest, OnlyTheAboutCommandsOpenTheAboutBox)
{
    Start();
    for (unsigned id : {0x0010u, 0x001Fu})
        EXPECT_TRUE(logic->OnSysCommand(id)) << id;
    for (unsigned id : {0x0020u, 0x000Fu, 0xF060u})
        EXPECT_FALSE(logic->OnSysCommand(id)) << id;
    EXPECT_EQ(view.abouts, 2);
}

TEST(StartupSettings, AddressIsReadAndWrittenBack)
{
    TempDir dir;
    CProfile fresh(dir / "a.ini");
    TouchStartupSettings(fresh);
    EXPECT_EQ(TempDir::ReadText(dir / "a.ini"), "[Font]\nAddress=274432\n");
    dir.WriteText("b.ini", "[Font]\nAddress=12345\n");
    CProfile kept(dir / "b.ini");
    TouchStartupSettings(kept);
    EXPECT_EQ(kept.GetProfileInt(kFontSection, kAddressKey, 0), 12345);
}

}  // namespace
}  // namespace veltrad::test
