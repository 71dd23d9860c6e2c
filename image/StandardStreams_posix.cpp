#include "image/StandardStreams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace veltrad {

bool OpenStandardStreams() noexcept
{
    // An open takes the lowest free number: while that is one of 0-2, the
    // null device now holds it (inherited, as a stream is).
    for (;;) {
        int fd = -1;
        do {
            fd = ::open("/dev/null", O_RDWR | O_NOCTTY);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return false;
        if (fd > 2) {
            ::close(fd);
            return true;
        }
    }
}

}  // namespace veltrad
