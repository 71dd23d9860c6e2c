#include "ui/TerminationNotifier.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include "serial/PosixIo.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veltrad {

#ifndef Q_OS_WIN
namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but process-wide state: the write end
// of the pipe of the one active notifier, -1 when there is none.
std::atomic<int> g_signalWriteFd{-1};

extern "C" void WriteSignalToPipe(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_signalWriteFd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a request to end; dropping this one is harmless.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

bool SetNonBlockingCloseOnExec(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

struct CTerminationNotifier::Impl {
    CUniqueFd readEnd;
    CUniqueFd writeEnd;
    std::array<struct sigaction, kSignals.size()> previous{};
    std::array<bool, kSignals.size()> installed{};

    bool Install()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        readEnd.Reset(fds[0]);
        writeEnd.Reset(fds[1]);
        if (!SetNonBlockingCloseOnExec(fds[0]) || !SetNonBlockingCloseOnExec(fds[1]))
            return false;
        int none = -1;
        if (!g_signalWriteFd.compare_exchange_strong(none, writeEnd.Get()))
            return false;  // another notifier is active

        struct sigaction action {};
        action.sa_handler = WriteSignalToPipe;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            if (::sigaction(kSignals[i], &action, &previous[i]) != 0)
                return false;
            installed[i] = true;
        }
        return true;
    }

    ~Impl()
    {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            if (installed[i])
                ::sigaction(kSignals[i], &previous[i], nullptr);
        }
        // Only once no handler can write to it does the pipe close.
        int mine = writeEnd.Get();
        if (mine >= 0)
            g_signalWriteFd.compare_exchange_strong(mine, -1);
    }
};

CTerminationNotifier::CTerminationNotifier(QObject* parent) : QObject(parent), m_impl(std::make_unique<Impl>())
{
    if (!m_impl->Install()) {
        m_impl.reset();
        return;
    }
    m_notifier = new QSocketNotifier(m_impl->readEnd.Get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CTerminationNotifier::OnPipeReadable);
}

CTerminationNotifier::~CTerminationNotifier()
{
    delete m_notifier;  // before its descriptor closes
    m_notifier = nullptr;
}

void CTerminationNotifier::OnPipeReadable()
{
    unsigned char byte = 0;
    // Several signals queued make one request each.
    while (RetryOnEintr([&] { return ::read(m_impl->readEnd.Get(), &byte, 1); }) == 1)
        emit TerminationRequested(byte);
}

#else  // Windows has no such signals for a windowed program.

struct CTerminationNotifier::Impl {};
CTerminationNotifier::CTerminationNotifier(QObject* parent) : QObject(parent) {}
CTerminationNotifier::~CTerminationNotifier() = default;
void CTerminationNotifier::OnPipeReadable() {}

#endif

}  // namespace veltrad
