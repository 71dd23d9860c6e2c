// The main window's logic with a fake view, a scripted port and a fake clock.
// The session's worker runs inline (or when the test says), so every case is
// deterministic, single-threaded and takes milliseconds.

#include "window/WindowLogic.h"

#include "common/TempDir.h"
#include "download/DownloadRun.h"
#include "download/ScriptedPort.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <system_error>

namespace veltrad::test {
namespace {


// The device side of the scripted port: opens succeed for the listed numbers.
class ScriptedSerialPort final : public ISerialPort {
public:
    ScriptedSerialPort(FakeClock& clock, std::vector<std::string>& log) : line(clock, log)
    {
        line.connected = false;
    }

    bool OpenPort(std::uint16_t port, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        opened.push_back(port);
        line.connected = openable.count(port) != 0;
        m_error = line.connected ? PortError{}
                                 : PortError{"/dev/fake" + std::to_string(port), PortErrorReason::NoSuchDevice, 0, {}};
        return line.connected;
    }
    bool OpenDevice(const std::string&, std::uint32_t, std::uint8_t, std::uint8_t, std::uint8_t) override
    {
        return false;
    }
    PortError LastPortError() const override { return m_error; }
    std::string DevicePath() const override { return {}; }
    bool IsConnected() const override { return line.IsConnected(); }
    bool DeviceGone() const override { return line.DeviceGone(); }
    std::uint32_t ReadComm(std::uint8_t* buffer, std::uint32_t count) override
    {
        return line.ReadComm(buffer, count);
    }
    std::uint32_t WriteComm(const std::uint8_t* buffer, std::uint32_t count) override
    {
        return line.WriteComm(buffer, count);
    }
    bool WaitForInput(std::chrono::milliseconds timeout) override { return line.WaitForInput(timeout); }
    void ClosePort() override { line.ClosePort(); }

    ScriptedPort line;
    std::set<std::uint16_t> openable{1, 3, 12, 50};
    std::vector<std::uint16_t> opened;

private:
    PortError m_error;
};

class FakeView final : public IWindowView {
public:
    void ShowPorts(const std::vector<PortEntry>& p, int s) override
    {
        ports = p;
        selected = s;
    }
    void ShowFile(const std::string& n, const std::string& s) override
    {
        name = n;
        size = s;
    }
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
    int abouts = 0;
    std::optional<std::filesystem::path> choice;
    std::vector<bool> ended;
    std::function<void()> onEnd;
    int posts = 0;
    std::vector<RunOutcome> outcomes;
};

class WindowLogicTest : public ::testing::Test {
protected:
    // The worker runs inline by default; a deferred one waits for RunWorker().
    void Make(bool deferWorker = false)
    {
        logic = std::make_unique<CWindowLogic>(view, CProfile(dir / "Veltrad.INI"), &clock, port.get());
        logic->SetPortSource([this] {
            ++listings;
            return present;
        });
        logic->Session().SetThreadLauncher([this, deferWorker](std::function<void()> body) {
            if (deferWorker)
                pendingWorker = std::move(body);
            else
                body();
            return std::thread();
        });
    }
    // A new port and no logic, for the next case of a table.
    void Fresh()
    {
        logic.reset();
        port = std::make_unique<ScriptedSerialPort>(clock, log);
    }
    void RunWorker()
    {
        auto body = std::move(pendingWorker);
        body();
        logic->DeliverRunEvents();
    }
    // A file of `frames` non-zero blocks, chosen in the open-file dialog.
    void ChooseImage(int frames)
    {
        view.choice = dir.Write("image.bin", std::vector<std::uint8_t>(frames * 128, 0x5A));
        logic->OnOpenFile();
    }
    void Download()
    {
        logic->OnDownload();
        logic->DeliverRunEvents();
    }
    std::string Settings() const { return TempDir::ReadText(dir / "Veltrad.INI"); }

    TempDir dir;
    FakeClock clock;
    std::vector<std::string> log;
    std::unique_ptr<ScriptedSerialPort> port = std::make_unique<ScriptedSerialPort>(clock, log);
    FakeView view;
    std::unique_ptr<CWindowLogic> logic;
    std::function<void()> pendingWorker;
    std::vector<SerialDeviceInfo> present;  // the devices the port list finds
    int listings = 0;
};

TEST_F(WindowLogicTest, StartSelectsTheSavedIndexAndTestOpensItsPort)
{
    struct Case {
        const char* settings;  // nullptr: no file
        int selected;
        std::uint16_t port;
        bool reported;
    };
    const Case cases[] = {
        {nullptr, 0, 1, false},
        {"[ComPort]\nPort Num=49\n", 49, 50, false},
        {"[ComPort]\nPort Num=2\n", 2, 3, false},
        {"[ComPort]\nPort Num=50\n", -1, 0, true},
        {"[ComPort]\nPort Num=-1\n", -1, 0, true},
        {"[ComPort]\nPort Num=4\n", 4, 5, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings ? c.settings : "no file");
        std::filesystem::remove(dir / "Veltrad.INI");
        if (c.settings)
            dir.WriteText("Veltrad.INI", c.settings);
        view = FakeView();
        Fresh();
        Make();
        logic->OnInitDialog();
        EXPECT_EQ(view.selected, c.selected);
        EXPECT_EQ(logic->PortNumber(), c.port);
        EXPECT_EQ(port->opened, std::vector<std::uint16_t>{c.port});
        EXPECT_FALSE(port->IsConnected()) << "a test-open leaves the port closed";
        ASSERT_EQ(view.messages.size(), c.reported ? 1u : 0u);
        if (c.reported) {
            EXPECT_EQ(view.messages[0].text, "Port open fail : COM" + std::to_string(c.port));
        }
        EXPECT_EQ(view.pos, 0u);
    }
}

TEST_F(WindowLogicTest, PortListHasFiftyEntriesWithTheirDevices)
{
    dir.WriteText("Veltrad.INI", "[Ports]\nCOM7=/dev/serial/by-id/usb-adapter\n");
    Make();
    logic->OnInitDialog();
    ASSERT_EQ(view.ports.size(), 50u);
    EXPECT_EQ(view.ports.front().name, "COM1");
    EXPECT_EQ(view.ports.back().name, "COM50");
    EXPECT_EQ(view.ports[6].device, "/dev/serial/by-id/usb-adapter");
    EXPECT_FALSE(view.ports[0].device.empty());
}

TEST_F(WindowLogicTest, PresentDevicesAreMarkedWithWhatTheyAreAndRefreshedWhenTheListOpens)
{
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=2\n[Ports]\nCOM7=" + byId + "\n");
    SerialDeviceInfo ftdi;
    ftdi.device = "/dev/ttyUSB0";
    ftdi.driver = "ftdi_sio";
    ftdi.manufacturer = "FTDI";
    ftdi.product = "FT232R USB UART";
    ftdi.serial = "A50285BI";
    ftdi.byId = byId;
    SerialDeviceInfo uart;
    uart.device = "/dev/ttyS1";
    uart.driver = "serial8250";
    present = {ftdi, uart};
    Make();
    logic->OnInitDialog();

    ASSERT_EQ(view.ports.size(), 50u);
    const auto marked = [&] {
        std::vector<int> ports;
        for (std::size_t i = 0; i < view.ports.size(); ++i)
            if (view.ports[i].present)
                ports.push_back(static_cast<int>(i) + 1);
        return ports;
    };
    EXPECT_EQ(marked(), (std::vector<int>{2, 7, 33}));  // ttyS1; the adapter by its link and by default
    EXPECT_EQ(PortToolTip(view.ports[6]), byId + ": FT232R USB UART, FTDI, serial A50285BI");
    EXPECT_EQ(PortToolTip(view.ports[1]), "/dev/ttyS1: serial8250");
    EXPECT_EQ(PortToolTip(view.ports[0]), "/dev/ttyS0");
    EXPECT_EQ(view.ports[0].description, "");
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
    EXPECT_EQ(view.ports[6].name, "COM7");
    EXPECT_EQ(view.selected, 2);
    EXPECT_EQ(port->opened.size(), opens);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(WindowLogicTest, APortThatFailsIsReportedNamingItsDeviceOnce)
{
    Make();
    logic->OnInitDialog();
    logic->OnSelChangePort(3);  // COM4 does not open
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Port open fail : COM4");
    EXPECT_EQ(view.messages[0].detail, "/dev/fake4: no such device");
    logic->OnSelChangePort(11);
    EXPECT_EQ(logic->PortNumber(), 12);
    EXPECT_EQ(port->opened.back(), 12);
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(WindowLogicTest, ChoosingAFile)
{
    Make();
    logic->OnInitDialog();
    logic->OnOpenFile();  // cancelled
    EXPECT_EQ(logic->FileName(), "");

    ChooseImage(3);
    EXPECT_EQ(view.name, "image.bin");
    EXPECT_EQ(view.size, "384 Byte");

    // An unreadable choice shows its name, no stale size, and says why.
    view.choice = dir / "missing.bin";
    logic->OnOpenFile();
    EXPECT_EQ(view.name, "missing.bin");
    EXPECT_EQ(view.size, "");
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].text.find("missing.bin"), std::string::npos);
    EXPECT_FALSE(view.messages[0].detail.empty());
}

TEST_F(WindowLogicTest, EachOutcomeShowsItsNoticeAndGivesTheControlsBack)
{
    struct Case {
        const char* name;
        std::map<int, std::vector<ScriptedReply>> replies;
        std::optional<Notice> notice;
        RunOutcome outcome;
        std::uint32_t pos;  // the bar at the end
        bool portOpen;
    };
    const std::vector<Case> cases = {
        {"complete", {{0, {{1, kAck}}}, {1, {{1, kAck}}}}, Notice::Complete, RunOutcome::Completed, 0, false},
        {"silent", {}, Notice::CommError, RunOutcome::TimedOut, 0, true},
        {"silent after an ACK", {{0, {{1, kAck}}}}, Notice::CommErrorRetry, RunOutcome::TimedOutAfterAck, 1, true},
        {"refused", {{0, {{1, kNak}}}, {1, {{1, kNak}}}, {2, {{1, kNak}}}, {3, {{1, kNak}}}, {4, {{1, kNak}}}},
         Notice::Fail, RunOutcome::Refused, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view = FakeView();
        Fresh();
        port->line.replies = c.replies;
        Make();
        logic->OnInitDialog();
        ChooseImage(2);
        Download();
        EXPECT_EQ(view.range, 2u);
        EXPECT_EQ(view.notices, std::vector<Notice>{*c.notice});
        EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{c.outcome});
        EXPECT_TRUE(view.enabled);
        EXPECT_EQ(view.pos, c.pos);
        EXPECT_EQ(port->IsConnected(), c.portOpen);
        EXPECT_EQ(view.posts, 1) << "one wake-up for the batch";
    }
}

TEST_F(WindowLogicTest, StartFailuresSayWhyAndLeaveTheControlsAlone)
{
    Make();
    logic->OnInitDialog();
    logic->OnDownload();  // no file chosen
    view.choice = dir.Write("zeros.bin", std::vector<std::uint8_t>(1000, 0));
    logic->OnOpenFile();
    logic->OnDownload();
    ChooseImage(1);
    logic->OnSelChangePort(3);  // COM4 does not open
    logic->OnDownload();
    logic->OnSelChangePort(0);
    logic->Session().SetThreadLauncher([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    logic->OnDownload();

    std::vector<std::string> texts;
    for (const WindowMessage& m : view.messages)
        texts.push_back(m.text);
    const std::vector<std::string> expected = {
        "Cannot read the file ",
        "Nothing to send: every byte of zeros.bin is zero.",
        "Port open fail : COM4",  // the test-open on the change
        "Port open fail : COM4",  // the download's open
        "The download could not be started.",
    };
    ASSERT_EQ(texts.size(), expected.size());
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].rfind(expected[i], 0), 0u) << texts[i];
    EXPECT_TRUE(view.enabled);
    EXPECT_FALSE(port->IsConnected());
    EXPECT_EQ(view.posts, 0);
}

TEST_F(WindowLogicTest, StopEndsTheRunWithoutANotice)
{
    Make(/*deferWorker=*/true);
    logic->OnInitDialog();
    ChooseImage(2);
    logic->OnDownload();
    EXPECT_FALSE(view.enabled);
    logic->OnStop();
    EXPECT_TRUE(view.enabled);
    EXPECT_EQ(view.pos, 0u);
    EXPECT_FALSE(port->IsConnected());
    RunWorker();
    EXPECT_TRUE(view.notices.empty());
    EXPECT_EQ(view.outcomes, std::vector<RunOutcome>{RunOutcome::Stopped});
}

TEST_F(WindowLogicTest, AStopAfterAnAckMovesTheBarNoMoreButALastAckStillCompletes)
{
    struct Case {
        int frames;
        std::vector<Notice> notices;
    };
    for (const Case& c : {Case{1, {Notice::Complete}}, Case{2, {}}}) {
        SCOPED_TRACE(c.frames);
        view = FakeView();
        Fresh();
        port->line.replies = {{0, {{1, kAck}}}};
        port->line.closeAfterRead = 1;  // the stop lands right after the first ACK
        Make(/*deferWorker=*/true);
        logic->OnInitDialog();
        ChooseImage(c.frames);
        logic->OnDownload();
        pendingWorker();  // runs to its outcome; its events wait in the queue
        logic->OnStop();
        logic->DeliverRunEvents();
        EXPECT_EQ(view.pos, 0u);
        EXPECT_EQ(view.notices, c.notices);
    }
}

TEST_F(WindowLogicTest, EventsOfAnEndedRunAreDropped)
{
    port->line.replies = {{0, {{1, kAck}}}};
    Make(/*deferWorker=*/true);
    logic->OnInitDialog();
    ChooseImage(1);
    logic->OnDownload();
    pendingWorker();
    logic->OnSessionEnding();  // ends the run the window shows
    logic->DeliverRunEvents();
    EXPECT_TRUE(view.notices.empty());
    EXPECT_TRUE(view.outcomes.empty());
    EXPECT_TRUE(view.ended.empty()) << "the window stays, should the logout be cancelled";
}

TEST_F(WindowLogicTest, EndingsAndThePortIndex)
{
    struct Case {
        const char* name;
        std::function<void(CWindowLogic&)> end;
        bool ok;
        bool saved;
    };
    const Case cases[] = {
        {"close button", [](CWindowLogic& l) { l.OnCloseDialog(); }, false, true},
        {"escape", [](CWindowLogic& l) { l.OnCancel(); }, false, false},
        {"enter", [](CWindowLogic& l) { l.OnOK(); }, true, false},
        {"signal", [](CWindowLogic& l) { l.OnEndRequested(); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=0\n");
        view = FakeView();
        Fresh();
        Make(/*deferWorker=*/true);
        logic->OnInitDialog();
        ChooseImage(2);
        logic->OnSelChangePort(2);
        logic->OnDownload();
        bool portOpenAtEnd = true;
        view.onEnd = [&] { portOpenAtEnd = port->IsConnected(); };
        c.end(*logic);
        EXPECT_EQ(view.ended, std::vector<bool>{c.ok});
        EXPECT_FALSE(portOpenAtEnd) << "the run is stopped before the window goes";
        EXPECT_EQ(Settings().find("Port Num=2") != std::string::npos, c.saved);
        // A second request to end changes nothing.
        logic->OnEndRequested();
        EXPECT_EQ(view.ended.size(), 1u);
    }
}

TEST_F(WindowLogicTest, TheCloseButtonForgetsTheFile)
{
    Make();
    logic->OnInitDialog();
    ChooseImage(1);
    logic->OnCloseDialog();
    EXPECT_EQ(view.name, "");
    EXPECT_EQ(view.size, "");
    EXPECT_TRUE(logic->Session().Image().m_strPathName.empty());
}

TEST_F(WindowLogicTest, OnlyTheAboutCommandsOpenTheAboutBox)
{
    Make();
    for (unsigned id : {0x0010u, 0x0015u, 0x001Fu})
        EXPECT_TRUE(logic->OnSysCommand(id)) << id;
    for (unsigned id : {0x0020u, 0x000Fu, 0xF060u, 0xF020u})
        EXPECT_FALSE(logic->OnSysCommand(id)) << id;
    EXPECT_EQ(view.abouts, 3);
}

TEST_F(WindowLogicTest, NothingIsShownOnceTheEndWasRequested)
{
    dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=50\n");
    Make();
    view.onEnd = [] {};
    logic->OnEndRequested();
    logic->OnInitDialog();  // its port message would come after the request
    EXPECT_TRUE(view.messages.empty());
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
