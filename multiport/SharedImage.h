#pragma once
// The image that every port of one download sends: the file read and framed
// once, and what the run log says of it. Its SHA-256 is taken from the very
// bytes that were read and framed, in the same pass: a second open could
// meet another file (renamed into place, a pipe, a device) or none at all.

#include "image/DownloadImage.h"
#include "multiport/RunLog.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace veltrad {

struct SharedImage {
    std::shared_ptr<const CDownloadImage> image;  // null when the file could not be read
    ImageFacts facts;                             // the path always; size and digest once read
};

// Reads and frames `file`. `stopRequested` (may be empty) is asked between
// chunks, as CDownloadImage::SetStopCheck says; with `digest`, the facts get
// the SHA-256 of the bytes read, left empty when the system cannot compute
// it. On failure `error` says why (`stopped` set for a stop).
SharedImage ReadSharedImage(const std::filesystem::path& file, std::function<bool()> stopRequested, bool digest,
                            ImageError& error);

}  // namespace veltrad
