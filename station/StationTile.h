#pragma once
// What the station logic keeps per tile and per start; shared by its two
// source files, not by its views.

#include "station/StationLogic.h"
#include "station/TileBinding.h"

namespace veltrad {

struct CStationLogic::Tile {
    JobTile job;
    TileDevice now;
    std::unique_ptr<CPortRun> run;  // the latest run's
    std::uint32_t startedMs = 0;
    ImageFacts image;  // of the run's image
    std::string adapterSerial;
};

struct CStationLogic::ApprovedImage {
    std::shared_ptr<const CDownloadImage> frames;
    ImageFacts facts;
};

}  // namespace veltrad
