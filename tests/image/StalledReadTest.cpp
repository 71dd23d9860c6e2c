// A read of the image that blocks (a stalled FUSE or network file) ends at a
// stop signal. The file is served here over the kernel's FUSE protocol: its
// first read is answered only when the kernel passes on the signal, the way a
// FUSE file system answers an interrupted request; a reader that tries again
// instead of stopping gets the data, and the server counts its reads.
// Mounting needs root and /dev/fuse; elsewhere the test is skipped.

#include "image/DownloadImage.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fuse.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace veltrad {
namespace {

constexpr std::uint64_t kRootNode = 1;
constexpr std::uint64_t kFileNode = 2;
constexpr std::uint32_t kFileSize = 4096;
constexpr char kFileName[] = "image.bin";

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

// One FUSE file system with one file, served on a thread of its own until
// the mount goes.
class CStallingFuse {
public:
    CStallingFuse(const std::filesystem::path& at, pthread_t reader) : m_at(at), m_reader(reader)
    {
        m_fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (m_fd < 0)
            return;
        const std::string options = "fd=" + std::to_string(m_fd) + ",rootmode=40000,user_id=0,group_id=0";
        if (::mount("veltrad-test", at.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            return;
        m_mounted = true;
        m_server = std::thread([this] { Serve(); });
    }
    ~CStallingFuse()
    {
        if (m_mounted)
            ::umount2(m_at.c_str(), MNT_DETACH);  // the server's next read then fails
        if (m_server.joinable())
            m_server.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Mounted() const { return m_mounted; }
    int Reads() const { return m_reads.load(); }

private:
    void Serve()
    {
        std::vector<char> request(1 << 20);
        for (;;) {
            const ssize_t n = ::read(m_fd, request.data(), request.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < static_cast<ssize_t>(sizeof(fuse_in_header)))
                return;  // unmounted
            fuse_in_header in{};
            std::memcpy(&in, request.data(), sizeof in);
            Answer(in, request.data() + sizeof in);
        }
    }

    template <typename T>
    void Reply(std::uint64_t unique, const T& body)
    {
        Reply(unique, 0, &body, sizeof body);
    }
    void Reply(std::uint64_t unique, int error, const void* body = nullptr, std::size_t size = 0)
    {
        std::vector<char> out(sizeof(fuse_out_header) + size);
        const fuse_out_header header{static_cast<std::uint32_t>(out.size()), error, unique};
        std::memcpy(out.data(), &header, sizeof header);
        if (size > 0)
            std::memcpy(out.data() + sizeof header, body, size);
        (void)::write(m_fd, out.data(), out.size());
    }

    static fuse_attr Attr(std::uint64_t node)
    {
        fuse_attr attr{};
        attr.ino = node;
        attr.mode = node == kRootNode ? (S_IFDIR | 0755) : (S_IFREG | 0444);
        attr.nlink = node == kRootNode ? 2 : 1;
        attr.size = node == kRootNode ? 0 : kFileSize;
        attr.blksize = kFileSize;
        return attr;
    }

    void Answer(const fuse_in_header& in, const char* body)
    {
        switch (in.opcode) {
        case FUSE_INIT: {
            fuse_init_out init{};
            init.major = FUSE_KERNEL_VERSION;
            init.minor = FUSE_KERNEL_MINOR_VERSION;
            init.max_write = kFileSize;
            init.max_background = 1;
            init.time_gran = 1;
            return Reply(in.unique, init);
        }
        case FUSE_LOOKUP: {
            if (std::strcmp(body, kFileName) != 0)
                return Reply(in.unique, -ENOENT);
            fuse_entry_out entry{};
            entry.nodeid = kFileNode;
            entry.attr = Attr(kFileNode);
            return Reply(in.unique, entry);
        }
        case FUSE_GETATTR: {
            fuse_attr_out out{};
            out.attr = Attr(in.nodeid);
            return Reply(in.unique, out);
        }
        case FUSE_OPEN: {
            fuse_open_out open{};
            open.open_flags = FOPEN_DIRECT_IO;  // every read reaches this server
            return Reply(in.unique, open);
        }
        case FUSE_READ: {
            ++m_reads;
            if (m_held == 0) {
                m_held = in.unique;  // stalled: answered when the kernel passes on the signal
                ::pthread_kill(m_reader, SIGUSR1);
                return;
            }
            fuse_read_in read{};
            std::memcpy(&read, body, sizeof read);
            const std::vector<char> data(read.offset < kFileSize ? kFileSize - read.offset : 0, 0x11);
            return Reply(in.unique, 0, data.data(), data.size());
        }
        case FUSE_INTERRUPT: {
            fuse_interrupt_in interrupt{};
            std::memcpy(&interrupt, body, sizeof interrupt);
            if (interrupt.unique == m_held)
                Reply(m_held, -EINTR);
            return;  // an interrupt itself is never answered
        }
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET: return;  // never answered either
        case FUSE_FLUSH:
        case FUSE_RELEASE: return Reply(in.unique, 0);
        default: return Reply(in.unique, -ENOSYS);
        }
    }

    std::filesystem::path m_at;
    pthread_t m_reader;
    int m_fd = -1;
    bool m_mounted = false;
    std::uint64_t m_held = 0;  // the server thread's own
    std::atomic<int> m_reads{0};
    std::thread m_server;
};

TEST(StalledRead, AStopSignalEndsAReadThatBlocks)
{
    // As veltrad-cli installs its stop handlers: no restarted system calls.
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    test::TempDir dir;
    bool built = true;
    ImageError error;
    {
        CStallingFuse fuse(dir.Path(), ::pthread_self());
        if (!fuse.Mounted()) {
            ::sigaction(SIGUSR1, &previous, nullptr);
            GTEST_SKIP() << "cannot mount a FUSE file system here (needs root and /dev/fuse)";
        }
        CDownloadImage image;
        image.SetStopCheck([] { return g_stop != 0; });
        image.SetFile(dir / kFileName);
        built = image.BuildFrames(&error);
        EXPECT_TRUE(image.m_FrameList.empty());
        EXPECT_EQ(fuse.Reads(), 1) << "the read was made again after the stop";
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_FALSE(built);
    EXPECT_TRUE(error.stopped) << error.Message();
}

}  // namespace
}  // namespace veltrad
