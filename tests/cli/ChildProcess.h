#pragma once
// A program under test run as a child process: its stdout and stderr read
// through pipes (or stderr on a descriptor the test gives, such as a pty), its
// exit status, and signals sent to it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace veltrad::test {

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

inline std::pair<Fd, Fd> Pipe()
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

// Given for a stream: the child starts with it closed.
inline constexpr int kClosedStream = -2;

// A child process with its stdout and stderr on pipes (or on descriptors
// the test gives, such as a pty or /dev/full, or closed).
class Child {
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env, int stderrFd = -1,
          int stdoutFd = -1)
    {
        auto [outRead, outWrite] = Pipe();
        auto [errRead, errWrite] = Pipe();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const auto give = [&actions](int fd, int ours, int stream) {
            if (fd == kClosedStream)
                posix_spawn_file_actions_addclose(&actions, stream);
            else
                posix_spawn_file_actions_adddup2(&actions, fd >= 0 ? fd : ours, stream);
        };
        give(stdoutFd, outWrite.Get(), STDOUT_FILENO);
        give(stderrFd, errWrite.Get(), STDERR_FILENO);

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
};

// A pseudo-terminal standing for the operator's terminal: the child gets the
// slave as its stderr; while the test holds the slave too, what the child
// drew waits on the master after it has ended.
struct TestTerminal {
    Fd master;
    Fd slave;

    static TestTerminal Open()
    {
        TestTerminal t;
        t.master = Fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        char name[128];
        if (t.master.Get() < 0 || ::grantpt(t.master.Get()) != 0 || ::unlockpt(t.master.Get()) != 0 ||
            ::ptsname_r(t.master.Get(), name, sizeof name) != 0)
            throw std::runtime_error(std::string("pty: ") + std::strerror(errno));
        t.slave = Fd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (t.slave.Get() < 0)
            throw std::runtime_error(std::string(name) + ": " + std::strerror(errno));
        return t;
    }

    // Everything written to the slave so far.
    std::string Drain()
    {
        std::string drawn;
        if (::fcntl(master.Get(), F_SETFL, O_NONBLOCK) != 0)
            return drawn;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master.Get(), buffer, sizeof buffer)) > 0;)
            drawn.append(buffer, static_cast<std::size_t>(n));
        return drawn;
    }
};

}  // namespace veltrad::test
