#pragma once
// The job's approved image: before every start (one tile or all) the file is
// read, framed and hashed again, and a file that is missing, unreadable or
// not the approved one starts nothing. The digest is of the very bytes that
// were framed, so a file that changes under the read cannot pass. Touches
// nothing but the file: it may be read on any thread.

#include "multiport/RunLog.h"
#include "station/StationView.h"

#include "image/DownloadImage.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace veltrad {

struct ApprovedImage {
    std::shared_ptr<const CDownloadImage> frames;  // never empty
    ImageFacts facts;                              // its path as the job names it
};

// An image read and hashed, or the message that says why it cannot be one.
struct ImageRead {
    std::optional<ApprovedImage> image;
    StationMessage refusal;  // when there is no image
};

// Reads, frames and hashes `path`, as choosing a job's image does.
// `stopRequested` (may be empty) is asked between chunks of the file.
ImageRead ReadJobImage(const std::filesystem::path& path, std::function<bool()> stopRequested = {});

// The job's image when it is the approved one (`sha256` of the job) and
// holds something to send.
ImageRead ReadApprovedImage(const std::filesystem::path& path, const std::string& sha256,
                            std::function<bool()> stopRequested = {});

}  // namespace veltrad
