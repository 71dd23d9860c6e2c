// A program started with standard streams closed puts the null device in
// their place, so that what it opens next never takes their numbers.

#include "image/StandardStreams.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace veltrad {
namespace {

// In a child with `closed` closed: 0 when the streams came back on the null
// device and the next open got a number above them, else which check failed.
int StreamsInChild(const std::vector<int>& closed)
{
    const pid_t child = ::fork();
    if (child == 0) {
        for (const int fd : closed)
            ::close(fd);
        if (!OpenStandardStreams())
            ::_exit(1);
        struct stat null {};
        if (::stat("/dev/null", &null) != 0)
            ::_exit(2);
        for (const int fd : closed) {
            struct stat st {};
            if (::fstat(fd, &st) != 0 || st.st_rdev != null.st_rdev)
                ::_exit(3);
        }
        const int next = ::open("/dev/null", O_RDONLY);
        ::_exit(next > 2 ? 0 : 4);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(StandardStreams, ClosedOnesGetTheNullDeviceBeforeAnythingElse)
{
    const std::vector<int> cases[] = {{}, {0}, {2}, {1, 2}, {0, 2}, {0, 1, 2}};
    for (const auto& closed : cases)
        EXPECT_EQ(StreamsInChild(closed), 0) << ::testing::PrintToString(closed);
}

}  // namespace
}  // namespace veltrad
