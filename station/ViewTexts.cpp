#include "station/ViewTexts.h"

#include "base/NoCase.h"
#include "serial/PortMap.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace veltrad {
namespace {

namespace text = station_text;

std::string Counts(unsigned completed, unsigned failed)
{
    return std::string(text::kCompleted) + " " + std::to_string(completed) + "   " + text::kFailed + " " +
           std::to_string(failed);
}

}  // namespace

std::string JobImageText(const JobView& job)
{
    if (job.imageName.empty())
        return {};
    // No size when the file could not be read or framed.
    if (job.sizeText.empty())
        return job.imageName;
    return job.imageName + "  (" + job.sizeText + ", " + std::to_string(job.frames) + " " + text::kFrames + ")";
}

std::string JobShaText(const JobView& job)
{
    return job.shaShort.empty() ? std::string() : "SHA-256 " + job.shaShort + "…";
}

std::string StationTitle(const JobView& job)
{
    return job.name.empty() ? std::string(text::kTitle) : job.name + " - " + text::kTitle;
}

std::string StationCountersText(const StationCounters& counters)
{
    return std::string(text::kStation) + "  " + Counts(counters.completed, counters.failed);
}

std::string RecordsWaitingText(const StationCounters& counters)
{
    if (counters.pendingRecords == 0)
        return {};
    return std::string(text::kRecordsWaiting) + " " + std::to_string(counters.pendingRecords) + " (" +
           counters.recordsCause + ")";
}

std::string TileNameText(const TileView& tile)
{
    // Windows opens COM10 as \\.\COM10: the same port, not worth saying twice.
    std::string_view device = tile.device;
    if (device.starts_with(kDeviceNamespace))
        device.remove_prefix(sizeof kDeviceNamespace - 1);
    if (device.empty() || EqualsNoCase(device, tile.name))
        return tile.name;
    return tile.name + "  " + tile.device;
}

std::string TileSerialText(const TileView& tile)
{
    if (!tile.serialNumber.empty())
        return std::string(text::kSerialNumber) + ": " + tile.serialNumber;
    return tile.needsSerial ? std::string(text::kNeedsSerial) : std::string();
}

std::string TileCountersText(const TileView& tile) { return Counts(tile.completed, tile.failed); }

}  // namespace veltrad
