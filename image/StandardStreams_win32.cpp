#include "image/StandardStreams.h"

#include <fcntl.h>
#include <io.h>

namespace veltrad {

// The C runtime's descriptors, which a file opened through it (_wfopen,
// streams) takes lowest first, as on POSIX. msvcrt marks those of a missing
// standard handle (a window program's, or one started without them) as open
// on no console, so this opens NUL once and closes it again; it holds where
// a runtime does not. Asking about a descriptor that is not open would call
// the runtime's invalid-parameter handler: opening tells which are free.
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
