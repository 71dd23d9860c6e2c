#include "image/StandardStreams.h"

#include <fcntl.h>
#include <io.h>

namespace veltrad {

// The C runtime's descriptors, which a file opened through it (_wfopen,
// streams) takes lowest first, as on POSIX. A window program's have no
// console behind them but count as open. Asking about a descriptor that is
// not open would call the runtime's invalid-parameter handler: opening
// instead tells which are free.
bool OpenStandardStreams() noexcept
{
    for (;;) {
        const int fd = ::_wopen(L"NUL", _O_RDWR | _O_BINARY);
        if (fd < 0)
            return false;
        if (fd > 2) {
            ::_close(fd);
            return true;
        }
    }
}

}  // namespace veltrad
