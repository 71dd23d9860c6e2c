#include "multiport/RecordFile.h"

#include "base/Utf8Path.h"

namespace veltrad {

std::string RecordError::Message() const
{
    std::string words;
    switch (fault) {
    case RecordFault::NotAFile: words = "not a regular file"; break;
    case RecordFault::DeviceName: words = "a device's name on Windows, not a file's"; break;
    case RecordFault::Link: words = "a link, not followed for records: name the file itself"; break;
    case RecordFault::InUse: words = "in use by another program"; break;
    case RecordFault::DiskFull: words = "no space left on the disk"; break;
    case RecordFault::Denied: words = "permission denied"; break;
    case RecordFault::NoFolder: words = "the folder does not exist"; break;
    case RecordFault::None:
    case RecordFault::Other: words = system.empty() ? std::string("cannot be written") : system; break;
    }
    return Utf8FromPath(path) + ": " + words;
}

}  // namespace veltrad
