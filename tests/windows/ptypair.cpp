// veltrad-ptypair: a null-modem cable between two pseudo-terminals, for
// testing the Windows serial backend under Wine with both ends of the line
// in one Windows program.
//
//   veltrad-ptypair LINK_A LINK_B
//
// Creates two ptys, makes LINK_A and LINK_B symlinks to their slave sides,
// prints "ready" and then copies every byte from one master to the other
// until it is terminated. Flow control happens where it does on a real
// line: in each slave's own line settings, which the program under test
// sets; the relay passes 0x11 and 0x13 through like any other byte.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;  // set by the termination signal handler

void OnSignal(int) { g_stop = 1; }

struct End {
    int master = -1;
    int slaveHold = -1;  // keeps the slave open, so the master never reads EIO
    std::string link;
    std::vector<unsigned char> pending;  // bytes read from the other end, not yet written here
};

bool Fail(const char* what)
{
    std::fprintf(stderr, "veltrad-ptypair: %s: %s\n", what, std::strerror(errno));
    return false;
}

bool OpenEnd(End& end)
{
    end.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (end.master < 0)
        return Fail("posix_openpt");
    if (grantpt(end.master) != 0 || unlockpt(end.master) != 0)
        return Fail("grantpt/unlockpt");
    const char* slave = ptsname(end.master);
    if (slave == nullptr)
        return Fail("ptsname");
    end.slaveHold = open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (end.slaveHold < 0)
        return Fail("open slave");
    // Raw until the program under test sets its own line settings.
    termios tio{};
    if (tcgetattr(end.slaveHold, &tio) != 0)
        return Fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(end.slaveHold, TCSANOW, &tio) != 0)
        return Fail("tcsetattr");
    if (unlink(end.link.c_str()) != 0 && errno != ENOENT)
        return Fail("unlink link");
    if (symlink(slave, end.link.c_str()) != 0)
        return Fail("symlink");
    return true;
}

// Moves what `from` has to read into `to`'s pending bytes; false on a fatal error.
bool Pump(End& from, End& to)
{
    std::array<unsigned char, 4096> buffer{};
    for (;;) {
        const ssize_t n = read(from.master, buffer.data(), buffer.size());
        if (n > 0) {
            to.pending.insert(to.pending.end(), buffer.begin(), buffer.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EIO);
    }
}

bool Flush(End& end)
{
    while (!end.pending.empty()) {
        const ssize_t n = write(end.master, end.pending.data(), end.pending.size());
        if (n > 0) {
            end.pending.erase(end.pending.begin(), end.pending.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: veltrad-ptypair LINK_A LINK_B\n");
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    std::array<End, 2> ends;
    ends[0].link = argv[1];
    ends[1].link = argv[2];
    if (!OpenEnd(ends[0]) || !OpenEnd(ends[1]))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);

    while (!g_stop) {
        std::array<pollfd, 2> fds{};
        for (int i = 0; i < 2; ++i) {
            fds[i].fd = ends[i].master;
            fds[i].events = POLLIN | (ends[i].pending.empty() ? 0 : POLLOUT);
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            Fail("poll");
            break;
        }
        if (!Pump(ends[0], ends[1]) || !Pump(ends[1], ends[0]) || !Flush(ends[0]) || !Flush(ends[1])) {
            Fail("relay");
            break;
        }
    }
    for (End& end : ends) {
        unlink(end.link.c_str());
        close(end.slaveHold);
        close(end.master);
    }
    return g_stop ? 0 : 1;
}
