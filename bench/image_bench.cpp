// Frame building speed and memory: a 64 MiB image of random non-zero bytes
// and a typical 1 MiB image. Prints its figures; targets are 0.3 s and 2.2x
// the image size for 64 MiB, 5 ms for 1 MiB.

#include "image/DownloadImage.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace {

std::filesystem::path MakeImage(const std::filesystem::path& dir, std::size_t bytes)
{
    const auto path = dir / ("bench-" + std::to_string(bytes) + ".bin");
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int> byte(1, 255);
    std::vector<char> chunk(1 << 20);
    for (std::size_t left = bytes; left > 0;) {
        const std::size_t n = std::min(left, chunk.size());
        std::generate_n(chunk.begin(), n, [&] { return static_cast<char>(byte(rng)); });
        out.write(chunk.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    return path;
}

long MaxRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Figures {
    double firstSeconds = 0;  // includes faulting in fresh memory
    double bestSeconds = 0;
    double medianSeconds = 0;
    double peakRatio = 0;  // peak extra resident memory / image size
};

// Runs in a child process so that the peak resident size belongs to the
// frame building alone.
bool Measure(const std::filesystem::path& image, std::size_t size, int rounds, Figures& figures)
{
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return false;
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        close(pipefd[0]);
        veltrad::CDownloadImage loader;
        loader.SetFile(image);
        const long before = MaxRssKiB();
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool ok = loader.BuildFrames();
            const auto t1 = std::chrono::steady_clock::now();
            if (!ok || loader.m_FrameList.size() * veltrad::kBlockSize != size)
                _exit(1);
            times.push_back(std::chrono::duration<double>(t1 - t0).count());
        }
        const double first = times.front();
        std::sort(times.begin(), times.end());
        Figures f{first, times.front(), times[times.size() / 2],
                  static_cast<double>(MaxRssKiB() - before) * 1024.0 / static_cast<double>(size)};
        const bool written = write(pipefd[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
        _exit(written ? 0 : 1);
    }
    close(pipefd[1]);
    const bool read_ok = read(pipefd[0], &figures, sizeof figures) == static_cast<ssize_t>(sizeof figures);
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return read_ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main()
{
    const auto dir = std::filesystem::temp_directory_path() / ("veltrad-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    struct Case {
        const char* name;
        std::size_t size;
        int rounds;
        double targetSeconds;
    } cases[] = {{"64 MiB", 64u << 20, 5, 0.3}, {"1 MiB", 1u << 20, 50, 0.005}};

    int failures = 0;
    for (const Case& c : cases) {
        const auto image = MakeImage(dir, c.size);
        Figures f;
        if (!Measure(image, c.size, c.rounds, f)) {
            std::printf("%-7s  measurement failed\n", c.name);
            ++failures;
            continue;
        }
        const bool timeOk = f.medianSeconds <= c.targetSeconds;
        std::printf("%-7s  frames built: first %.4f s, best %.4f s, median %.4f s (target <= %.3f s) %s;"
                    "  peak memory %.2f x image size%s\n",
                    c.name, f.firstSeconds, f.bestSeconds, f.medianSeconds, c.targetSeconds, timeOk ? "ok" : "MISSED",
                    f.peakRatio,
                    c.size >= (64u << 20) ? (f.peakRatio <= 2.2 ? " (target <= 2.2) ok" : " (target <= 2.2) MISSED")
                                          : "");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return failures == 0 ? 0 : 1;
}
