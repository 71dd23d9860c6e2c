// The built veltrad-cli, run as a process against the simulated terminal:
// one exit status and one JSON object per way a download ends, Ctrl-C, the
// progress bar on a terminal only, and COM names mapped through the settings.

#include "RunSupport.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace veltrad {
namespace {

using sim::SimOptions;
using test::MakeSim;
using test::TempDir;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

std::pair<Fd, Fd> Pipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    return {Fd(fds[0]), Fd(fds[1])};
}

struct Finished {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A child process with its stdout and stderr on pipes (or stderr on a
// descriptor the test gives, such as a pty).
class Child {
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env, int stderrFd = -1)
    {
        auto [outRead, outWrite] = Pipe();
        auto [errRead, errWrite] = Pipe();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, stderrFd >= 0 ? stderrFd : errWrite.Get(), STDERR_FILENO);

        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> envStrings;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const bool overridden = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
                return entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0;
            });
            if (!overridden)
                envStrings.push_back(entry);
        }
        envStrings.insert(envStrings.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (const std::string& e : envStrings)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);

        const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error(args[0] + ": " + std::strerror(rc));
        m_out = std::move(outRead);
        m_err = std::move(errRead);
    }
    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void Signal(int signal) { ::kill(m_pid, signal); }

    // The next line of stdout, without its newline.
    std::optional<std::string> ReadLine()
    {
        for (;;) {
            if (const auto nl = m_result.out.find('\n', m_lineStart); nl != std::string::npos) {
                std::string line = m_result.out.substr(m_lineStart, nl - m_lineStart);
                m_lineStart = nl + 1;
                return line;
            }
            if (!Pump(m_out, m_result.out))
                return std::nullopt;
        }
    }

    // Reads both streams to their end and reaps the process.
    Finished Wait()
    {
        while (m_out.Get() >= 0 || m_err.Get() >= 0) {
            pollfd fds[2] = {{m_out.Get(), POLLIN, 0}, {m_err.Get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                break;
            if (fds[0].revents != 0)
                Pump(m_out, m_result.out);
            if (fds[1].revents != 0)
                Pump(m_err, m_result.err);
        }
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        m_result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_result;
    }

private:
    static bool Pump(Fd& fd, std::string& into)
    {
        if (fd.Get() < 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR)
            return true;
        fd.Reset();
        return false;
    }

    pid_t m_pid = -1;
    Fd m_out;
    Fd m_err;
    Finished m_result;
    std::size_t m_lineStart = 0;
};

struct Json {
    std::string outcome;
    unsigned frames = 0;
    unsigned acknowledged = 0;
    unsigned resends = 0;
    double seconds = 0;
    bool portGone = false;
};

// The whole of stdout must be exactly one JSON object on one line.
std::optional<Json> ParseJson(const std::string& out)
{
    static const std::regex kObject(
        R"re(\{"outcome":"([a-z-]+)","frames":(\d+),"acknowledged":(\d+),"resends":(\d+),"seconds":([0-9.]+),)re"
        R"re("port_gone":(true|false)\}\n)re");
    std::smatch m;
    if (!std::regex_match(out, m, kObject))
        return std::nullopt;
    return Json{m[1], static_cast<unsigned>(std::stoul(m[2])), static_cast<unsigned>(std::stoul(m[3])),
                static_cast<unsigned>(std::stoul(m[4])), std::stod(m[5]), m[6] == "true"};
}

class CliTest : public ::testing::Test {
protected:
    std::string WriteImage(std::uint32_t frames)
    {
        std::mt19937 rng(frames);
        m_image = test::MakeImage(rng, 2, frames, 1);
        return m_dir.Write("image.bin", m_image.file).string();
    }
    // Settings of the child: its own folder, never the user's.
    std::vector<std::string> Env() const { return {"XDG_CONFIG_HOME=" + m_dir.Path().string()}; }

    TempDir m_dir;
    test::TestImage m_image;
};

enum class PortKind { Simulator, Missing, Com7MappedToSimulator, Com51 };

struct CliCase {
    const char* name;
    std::uint32_t frames;  // 0: a file of zeros; kNoFile: no file at all
    void (*options)(SimOptions&);
    bool terminalOn;
    PortKind port;
    int status;
    const char* outcome;
    unsigned acknowledged;
    unsigned resends;
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint32_t kNoFile = 0xFFFFFFFF;
void Plain(SimOptions&) {}

const CliCase kCliCases[] = {
    {"Completed", 6, Plain, true, PortKind::Simulator, 0, "completed", 6, 0},
    {"CompletedOnAComNameFromTheSettings", 3, Plain, true, PortKind::Com7MappedToSimulator, 0, "completed", 3, 0},
    {"Refused", 4, [](SimOptions& o) { o.refuseFrame = 1; o.refuseTimes = 5; }, true, PortKind::Simulator, 5,
     "refused", 1, 4},
    {"GarbageAnswers", 4, [](SimOptions& o) { o.garbage = true; }, true, PortKind::Simulator, 5, "refused", 0, 4},
    {"SilentBeforeAnyAck", 2, Plain, false, PortKind::Simulator, 3, "timed-out", 0, 0},
    {"SilentAfterSome", 4, [](SimOptions& o) { o.silentAfter = 0; }, true, PortKind::Simulator, 4,
     "timed-out-after-ack", 1, 0},
    {"NothingToSend", 0, Plain, true, PortKind::Simulator, 6, "nothing-to-send", 0, 0},
    {"UnreadableFile", kNoFile, Plain, true, PortKind::Simulator, 1, "file-error", 0, 0},
    {"PortDoesNotExist", 2, Plain, true, PortKind::Missing, 2, "port-open-failed", 0, 0},
    {"ComNumberOutOfRange", 2, Plain, true, PortKind::Com51, 2, "port-open-failed", 0, 0},
};

class CliOutcome : public CliTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliOutcome, ExitStatusAndJson)
{
    const CliCase& c = GetParam();
    SimOptions options;
    c.options(options);
    auto sim = MakeSim(options, c.terminalOn);
    std::string file;
    if (c.frames == kNoFile)
        file = (m_dir / "missing.bin").string();
    else if (c.frames == 0)
        file = m_dir.Write("zeros.bin", std::vector<std::uint8_t>(5000, 0)).string();
    else
        file = WriteImage(c.frames);

    std::string port;
    switch (c.port) {
    case PortKind::Simulator: port = sim->DevicePath(); break;
    case PortKind::Missing: port = (m_dir / "no-such-tty").string(); break;
    case PortKind::Com7MappedToSimulator:
        m_dir.WriteText("Veltrad.INI", "[Ports]\nCOM7=" + sim->DevicePath() + "\n");
        port = "COM7";
        break;
    case PortKind::Com51: port = "COM51"; break;
    }

    Child cli({VELTRAD_CLI, "download", "--json", "--port", port, file}, Env());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, c.status) << done.err;
    const auto json = ParseJson(done.out);
    ASSERT_TRUE(json.has_value()) << "stdout: " << done.out;
    EXPECT_EQ(json->outcome, c.outcome);
    EXPECT_EQ(json->acknowledged, c.acknowledged);
    EXPECT_EQ(json->resends, c.resends);
    EXPECT_EQ(json->frames, c.frames == kNoFile ? 0u : c.frames);
    EXPECT_FALSE(json->portGone);
    // A run that never started says why on stderr; a run says nothing there
    // when stderr is no terminal.
    const bool ran = c.status != 1 && c.status != 2 && c.status != 6;
    EXPECT_EQ(done.err.empty(), ran) << done.err;

    if (c.status == 0) {
        EXPECT_TRUE(sim->WaitForEnd(std::chrono::seconds(10)));
        EXPECT_EQ(sim->Image().bytes, m_image.span);
    } else if (c.terminalOn) {
        EXPECT_EQ(sim->Counters().eots, 0u);
    }
    if (c.status == 6 || c.status == 1) {
        EXPECT_EQ(sim->Counters().framesReceived, 0u) << "no port was opened";
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, CliOutcome, ::testing::ValuesIn(kCliCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, BadArgumentsExitWithOne)
{
    const std::string file = WriteImage(1);
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{VELTRAD_CLI, "download", file},
             std::vector<std::string>{VELTRAD_CLI, "download", "--port"},
             std::vector<std::string>{VELTRAD_CLI, "download", "--port", "COM1", file, "--no-such-flag"},
         }) {
        Child cli(args, Env());
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 1) << done.err;
        EXPECT_FALSE(done.err.empty());
    }
}

TEST_F(CliTest, PortNamesThatNameNoDeviceAreReportedAsTyped)
{
    const std::string file = WriteImage(2);
    const std::pair<std::string, std::string> cases[] = {
        {"COM99999", "COM99999: no such port (COM1 to COM50)"},
        {"com0", "com0: no such port (COM1 to COM50)"},
        {"", "no port was given"},
    };
    for (const auto& [port, reason] : cases) {
        Child cli({VELTRAD_CLI, "download", "--port", port, file}, Env());
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 2) << done.err;
        EXPECT_EQ(done.err, "veltrad-cli: cannot open the port: " + reason + "\n");
    }
}

// Unplugging the adapter ends the run at once, as the silent terminal's
// outcome (exit 4 after an acknowledgement), and says what happened.
TEST_F(CliTest, UnpluggedPortEndsTheRunAtOnceAndSaysSo)
{
    for (const bool json : {true, false}) {
        SCOPED_TRACE(json ? "json" : "words");
        SimOptions options;
        options.silentAfter = 0;
        auto sim = MakeSim(options);
        std::vector<std::string> args = {VELTRAD_CLI, "download", "--port", sim->DevicePath(), WriteImage(3)};
        if (json)
            args.push_back("--json");
        Child cli(args, Env());
        ASSERT_TRUE(sim->WaitForFramesReceived(2, std::chrono::seconds(20)));
        const auto unplugged = std::chrono::steady_clock::now();
        sim.reset();  // the pty's far end closes: the port hangs up
        const Finished done = cli.Wait();
        EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::seconds(3)) << "waited out the 5 s";
        EXPECT_EQ(done.status, 4) << done.err;
        if (json) {
            const auto parsed = ParseJson(done.out);
            ASSERT_TRUE(parsed.has_value()) << done.out;
            EXPECT_EQ(parsed->outcome, "timed-out-after-ack");
            EXPECT_EQ(parsed->acknowledged, 1u);
            EXPECT_TRUE(parsed->portGone);
        } else {
            EXPECT_EQ(done.out, "communication error: the port went away (unplugged?) after 1 of 3 frames; "
                                "run the download again\n");
        }
    }
}

TEST_F(CliTest, WithoutJsonTheRunEndsWithOneLineNamingTheOutcome)
{
    auto sim = MakeSim({});
    Child cli({VELTRAD_CLI, "download", "--port", sim->DevicePath(), WriteImage(3)}, Env());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.out.rfind("download complete: 3 frames acknowledged", 0), 0u) << done.out;
    EXPECT_EQ(std::count(done.out.begin(), done.out.end(), '\n'), 1);
    EXPECT_TRUE(done.err.empty()) << "no progress bar when stderr is not a terminal";
}

TEST_F(CliTest, ProgressBarOnlyWhenStderrIsATerminal)
{
    SimOptions options;
    options.replyDelay = std::chrono::milliseconds(40);  // a run of about half a second
    auto sim = MakeSim(options);
    // A pseudo-terminal stands for the operator's terminal on stderr.
    Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(master.Get(), 0);
    ASSERT_EQ(::grantpt(master.Get()), 0);
    ASSERT_EQ(::unlockpt(master.Get()), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master.Get(), name, sizeof name), 0);
    Fd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(slave.Get(), 0);

    Child cli({VELTRAD_CLI, "download", "--port", sim->DevicePath(), WriteImage(12)}, Env(), slave.Get());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.out.rfind("download complete: 12 frames acknowledged", 0), 0u) << done.out;

    // The slave is still held here, so what the program drew waits on the master.
    ASSERT_EQ(::fcntl(master.Get(), F_SETFL, O_NONBLOCK), 0);
    std::string drawn;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master.Get(), buffer, sizeof buffer)) > 0;)
        drawn.append(buffer, static_cast<std::size_t>(n));
    EXPECT_NE(drawn.find('\r'), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("/12 frames"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("KiB"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("left"), std::string::npos) << drawn;
}

TEST_F(CliTest, CtrlCAndTerminationStopTheRunLikeTheStopButton)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SimOptions options;
        options.replyDelay = std::chrono::seconds(60);
        auto sim = MakeSim(options);
        Child cli({VELTRAD_CLI, "download", "--json", "--port", sim->DevicePath(), WriteImage(3)}, Env());
        ASSERT_TRUE(sim->WaitForFramesReceived(1, std::chrono::seconds(20)));
        cli.Signal(signal);
        const Finished done = cli.Wait();
        EXPECT_EQ(done.status, 130) << done.err;
        const auto json = ParseJson(done.out);
        ASSERT_TRUE(json.has_value()) << done.out;
        EXPECT_EQ(json->outcome, "stopped");
        EXPECT_EQ(json->acknowledged, 0u);
        EXPECT_EQ(sim->Counters().eots, 0u);
    }
}

TEST_F(CliTest, LoadsAnImageIntoTheSimulatorToolEndToEnd)
{
    const std::string link = (m_dir / "kv9090").string();
    const std::string received = (m_dir / "received.bin").string();
    Child simulator({VELTRAD_SIM, "--link", link, "--out", received}, Env());
    const auto ready = simulator.ReadLine();
    ASSERT_TRUE(ready.has_value());
    ASSERT_NE(ready->find("terminal on"), std::string::npos) << *ready;

    Child cli({VELTRAD_CLI, "download", "--json", "--port", link, WriteImage(9)}, Env());
    const Finished done = cli.Wait();
    EXPECT_EQ(done.status, 0) << done.err;
    const auto json = ParseJson(done.out);
    ASSERT_TRUE(json.has_value()) << done.out;
    EXPECT_EQ(json->frames, 9u);
    EXPECT_EQ(json->acknowledged, 9u);

    const Finished simDone = simulator.Wait();
    EXPECT_EQ(simDone.status, 0) << simDone.out << simDone.err;
    const std::string bytes = TempDir::ReadText(received);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), m_image.span);
}

}  // namespace
}  // namespace veltrad
