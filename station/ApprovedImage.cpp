#include "station/ApprovedImage.h"

#include "base/Utf8Path.h"
#include "multiport/SharedImage.h"
#include "window/ReasonTexts.h"

namespace veltrad {

namespace text = station_text;

ImageRead ReadJobImage(const std::filesystem::path& path, std::function<bool()> stopRequested)
{
    ImageError error;
    SharedImage shared = ReadSharedImage(path, std::move(stopRequested), true, error);
    if (!shared.image)
        return {std::nullopt, {text::kImageUnreadable, KoreanImageError(error)}};
    if (shared.facts.sha256.empty())
        return {std::nullopt, {text::kImageUnreadable, Utf8FromPath(path) + ": " + text::kNoSha}};
    return {ApprovedImage{std::move(shared.image), std::move(shared.facts)}, {}};
}

ImageRead ReadApprovedImage(const std::filesystem::path& path, const std::string& sha256,
                            std::function<bool()> stopRequested)
{
    if (path.empty() || sha256.empty())
        return {std::nullopt, {text::kNoImage, {}}};
    ImageRead read = ReadJobImage(path, std::move(stopRequested));
    if (!read.image)
        return read;
    const std::string& sha = read.image->facts.sha256;
    if (sha != sha256) {
        return {std::nullopt,
                {text::kImageChanged,
                 Utf8FromPath(path) + "\n" + text::kShaOfJob + ": " + sha256 + "\n" + text::kShaOfFile + ": " + sha}};
    }
    if (read.image->frames->m_FrameList.empty())
        return {std::nullopt, {text::kNothingToSend, Utf8FromPath(path)}};
    read.image->facts.path = path;
    return read;
}

}  // namespace veltrad
