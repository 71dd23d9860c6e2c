// Loading eight terminals at once against loading one, as an operator would:
// veltrad-cli as a process, each terminal a veltrad-sim process pacing a
// 115200-baud line (its default) on its own pseudo-terminal. Prints
//   1. the elapsed time of eight terminals against one (target: at most 5 % longer);
//   2. veltrad-cli's CPU time (all its threads, user + system) as a share of
//      its elapsed time with eight terminals (target: under 5 %).
// With --station the same through Veltrad Station's logic, run in this
// process with a view that only delivers its events on the main thread (as a
// window's thread would), and this process's CPU time as the station's.
//
// Usage: multiport_bench [--frames N] [--ports N] [--station]
//        (defaults: 1024 frames, 8 ports, veltrad-cli)

#include "image/Packet.h"
#include "station/StationLogic.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// A process with its stdout on a pipe.
struct Process {
    pid_t pid = -1;
    int out = -1;
};

// `quiet`: stderr goes to /dev/null.
std::optional<Process> Spawn(const std::vector<std::string>& args, bool quiet = false)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Process p;
    const int rc = ::posix_spawn(&p.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        std::fprintf(stderr, "multiport_bench: %s: %s\n", args[0].c_str(), std::strerror(rc));
        ::close(fds[0]);
        return std::nullopt;
    }
    p.out = fds[0];
    return p;
}

// Reads stdout up to its end, or only to the first newline.
std::string Read(int fd, bool lineOnly)
{
    std::string text;
    char c = 0;
    for (ssize_t n; (n = ::read(fd, &c, 1)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text += c;
        if (lineOnly && c == '\n')
            break;
    }
    return text;
}

struct Finished {
    int status = -1;
    double elapsed = 0;  // seconds
    double cpu = 0;      // seconds, user + system, all threads
    std::string out;
};

Finished Reap(const Process& p, steady_clock::time_point started)
{
    Finished f;
    f.out = Read(p.out, false);
    ::close(p.out);
    int status = 0;
    rusage usage{};
    while (::wait4(p.pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    f.elapsed = duration<double>(steady_clock::now() - started).count();
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    f.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return f;
}

struct Result {
    double elapsed = 0;
    double cpu = 0;
    double longestRun = 0;  // the slowest port's own run time, from the JSON
};

// `ports` simulators pacing the line, each on a link in `dir`; empty when one did not start.
std::vector<Process> StartTerminals(const fs::path& bin, const fs::path& dir, int ports,
                                    std::vector<std::string>& links)
{
    // Only the simulators get the finest timer slack, so they pace the line
    // closely; the loader runs with the system's default, as it would.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<Process> terminals;
    for (int i = 0; i < ports; ++i) {
        const std::string link = (dir / ("terminal" + std::to_string(i))).string();
        const auto sim = Spawn({(bin / "veltrad-sim").string(), "--link", link});
        if (!sim)
            return {};
        terminals.push_back(*sim);
        // Ready once it has said where it listens.
        if (Read(sim->out, true).find("terminal on") == std::string::npos) {
            std::fprintf(stderr, "multiport_bench: a simulator did not start\n");
            return {};
        }
        links.push_back(link);
    }
    ::prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    return terminals;
}

std::optional<Result> LoadTerminals(const fs::path& bin, const fs::path& dir, const fs::path& image, int ports)
{
    std::vector<std::string> links;
    const std::vector<Process> terminals = StartTerminals(bin, dir, ports, links);
    if (terminals.empty())
        return std::nullopt;
    std::vector<std::string> args{(bin / "veltrad-cli").string(), "download", "--json"};
    for (const std::string& link : links) {
        args.push_back("--port");
        args.push_back(link);
    }
    args.push_back(image.string());

    const auto started = steady_clock::now();
    // Its line per terminal on stderr is no figure of ours.
    const auto cli = Spawn(args, true);
    if (!cli)
        return std::nullopt;
    const Finished done = Reap(*cli, started);
    bool simsOk = true;
    for (const Process& t : terminals)
        simsOk = Reap(t, started).status == 0 && simsOk;

    std::size_t completed = 0;
    Result r{done.elapsed, done.cpu, 0};
    for (std::size_t at = 0; (at = done.out.find("\"outcome\":\"completed\"", at)) != std::string::npos; ++at)
        ++completed;
    for (std::size_t at = 0; (at = done.out.find("\"seconds\":", at)) != std::string::npos; ++at)
        r.longestRun = std::max(r.longestRun, std::stod(done.out.substr(at + 10)));
    if (done.status != 0 || completed != static_cast<std::size_t>(ports) || !simsOk) {
        std::fprintf(stderr, "multiport_bench: not every terminal completed (status %d): %s\n", done.status,
                     done.out.c_str());
        return std::nullopt;
    }
    return r;
}

// The station's view with nothing to draw: it delivers the workers' events
// on the thread that waits in Run(), as a window's thread would.
class CHeadlessView final : public veltrad::IStationView {
public:
    void ShowJob(const veltrad::JobView&) override {}
    void ShowTiles(const std::vector<veltrad::TileView>&) override {}
    void ShowTile(std::size_t, const veltrad::TileView&) override {}
    void ShowCounters(const veltrad::StationCounters& c) override { counters = c; }
    void ShowScanStatus(const std::string&) override {}
    void ShowMessage(const veltrad::StationMessage& m) override
    {
        std::fprintf(stderr, "multiport_bench: %s %s\n", m.text.c_str(), m.detail.c_str());
    }
    bool AskEnd(const std::string&) override { return true; }
    std::optional<fs::path> ChooseImage() override { return std::nullopt; }
    std::optional<fs::path> ChooseJobToOpen() override { return std::nullopt; }
    std::optional<fs::path> ChooseJobToSave() override { return std::nullopt; }
    void PlaySound(veltrad::StationSound) override {}
    void OpenFolder(const fs::path&) override {}
    void EndWindow() override {}
    void PostEvents() override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_posted = true;
        }
        m_wake.notify_one();
    }
    void OnRunEnded(std::size_t) override { ++ended; }

    // Delivers events until `runs` runs have ended.
    void Run(veltrad::CStationLogic& logic, int runs)
    {
        while (ended < runs) {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_posted; });
            m_posted = false;
            lock.unlock();
            logic.DeliverEvents();
        }
    }

    veltrad::StationCounters counters;
    int ended = 0;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_posted = false;
};

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::optional<Result> LoadThroughStation(const fs::path& bin, const fs::path& dir, const fs::path& image, int ports)
{
    std::vector<std::string> links;
    const std::vector<Process> terminals = StartTerminals(bin, dir, ports, links);
    if (terminals.empty())
        return std::nullopt;
    std::string names;
    for (const std::string& link : links)
        names += link + " ";
    CHeadlessView view;
    veltrad::StationServices services;
    services.recordsFolder = dir / ("records" + std::to_string(ports));
    veltrad::CStationLogic logic(view, veltrad::CPortMap(), services);
    logic.OnInit();
    if (!logic.SetImage(image) || !logic.OnPortsText(names))
        return std::nullopt;

    const double cpuBefore = CpuSeconds();
    const auto started = steady_clock::now();
    logic.OnStartAllIdle();
    view.Run(logic, ports);
    Result r;
    r.elapsed = duration<double>(steady_clock::now() - started).count();
    r.cpu = CpuSeconds() - cpuBefore;
    bool simsOk = true;
    for (const Process& t : terminals)
        simsOk = Reap(t, started).status == 0 && simsOk;
    // The runs' own times, from the records' seconds column.
    for (const auto& entry : fs::directory_iterator(services.recordsFolder)) {
        std::ifstream records(entry.path());
        for (std::string line; std::getline(records, line);) {
            std::size_t at = 0;
            for (int field = 0; field < 11 && at != std::string::npos; ++field)
                at = line.find('\t', at + 1);
            if (line[0] != '#' && at != std::string::npos)
                r.longestRun = std::max(r.longestRun, std::stod(line.substr(at + 1)));
        }
    }
    if (view.counters.completed != static_cast<unsigned>(ports) || !simsOk) {
        std::fprintf(stderr, "multiport_bench: not every terminal completed through the station (%u of %d)\n",
                     view.counters.completed, ports);
        return std::nullopt;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t frames = 1024;
    int ports = 8;
    bool station = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--station") == 0)
            station = true;
        else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            frames = std::stoul(argv[++i]);
        else if (std::strcmp(argv[i], "--ports") == 0 && i + 1 < argc)
            ports = std::stoi(argv[++i]);
    }
    const auto load = station ? LoadThroughStation : LoadTerminals;
    const char* loader = station ? "station" : "veltrad-cli";
    // The programs are built beside this one.
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    const fs::path dir = fs::temp_directory_path() / ("veltrad-multiport-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path image = dir / "image.bin";
    {
        std::vector<char> bytes(frames * veltrad::kBlockSize);
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> byte(1, 255);
        std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(byte(rng)); });
        std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    const double line = static_cast<double>(frames) * 0.0118;
    std::printf("%zu frames (%.0f KiB) to each terminal pacing 115200 baud; the line alone takes %.2f s\n", frames,
                static_cast<double>(frames * veltrad::kBlockSize) / 1024.0, line);
    std::printf("loading through %s\n", loader);
    const auto one = load(bin, dir, image, 1);
    const auto many = one ? load(bin, dir, image, ports) : std::nullopt;
    fs::remove_all(dir);
    if (!one || !many)
        return 1;

    const double longer = 100.0 * (many->elapsed / one->elapsed - 1.0);
    std::printf("  one terminal:    %.2f s elapsed (its run %.2f s), CPU %.3f s = %.2f%%\n", one->elapsed,
                one->longestRun, one->cpu, 100.0 * one->cpu / one->elapsed);
    std::printf("  %d terminals:    %.2f s elapsed (slowest run %.2f s), CPU %.3f s = %.2f%%\n", ports, many->elapsed,
                many->longestRun, many->cpu, 100.0 * many->cpu / many->elapsed);
    std::printf("  %d against one:  %+.2f%% elapsed  (target: at most +5%%) %s\n", ports, longer,
                longer <= 5.0 ? "MET" : "MISSED");
    const double share = 100.0 * many->cpu / many->elapsed;
    std::printf("  %s CPU with %d: %.2f%% of elapsed  (target: under 5%%) %s\n", loader, ports, share,
                share < 5.0 ? "MET" : "MISSED");
    return 0;
}
