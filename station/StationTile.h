#pragma once
// One tile of the station: a port of the job, the device it opens now, what
// it shows, and its run. The station logic keeps its tiles on a CTileBoard
// and decides what the station as a whole allows (TileRules).

#include "download/PortRun.h"
#include "multiport/PortResult.h"
#include "station/ApprovedImage.h"
#include "station/StationView.h"
#include "station/TileBinding.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

// What the station decides for every tile's flags.
struct TileRules {
    bool serialNumbers = false;  // a unit's number before each start
    bool approved = false;       // the job has an approved image
    bool ended = false;          // the station has ended: nothing starts
};

class CStationTile {
public:
    explicit CStationTile(JobTile job);

    const JobTile& Job() const { return m_job; }
    const TileDevice& Now() const { return m_now; }
    const TileView& View() const { return m_view; }
    // A run is on, or the tile waits for the image's check to start one.
    bool Loading() const { return m_view.state == TileState::Loading; }
    // Neither loading nor (when present) holding a number: where a scan may go.
    bool WaitsForNumber() const { return !Loading() && m_now.present && m_view.serialNumber.empty(); }

    // Looks again which device the tile opens; a loading tile keeps what it
    // opened. An unplugged tile keeps its last run's result until its next
    // run, and says that the adapter is gone beside it.
    void Refresh(const CPortMap& ports, const std::vector<SerialDeviceInfo>& devices);
    // The flags that follow from the tile's state, the rules and the selection.
    void UpdateFlags(const TileRules& rules, bool selected);
    void SetSerialNumber(std::string number) { m_view.serialNumber = std::move(number); }

    // Starts a run over `image` on the device found by the last Refresh (a
    // bound tile's socket, or its port's device), after joining the
    // earlier run. Nullopt while it runs; a run that does not start has its
    // result at once.
    std::optional<PortResult> Start(const ApprovedImage& image, IRunListener& listener, PortRunSetup setup,
                                    std::uint32_t nowMs);
    // Waiting for the image's check before a start: shown as loading, with
    // what it showed before kept for StopAwaiting (a stop, a refused image).
    void AwaitImage();
    void StopAwaiting();
    bool AwaitingImage() const { return m_awaiting; }
    bool OwnsRun(std::uint64_t runId) const { return m_run && m_run->RunId() == runId; }
    void Progress(std::uint32_t acknowledged, std::uint32_t nowMs);
    // The result of this tile's run that ended with `ended`: named as the tile is.
    PortResult ResultOf(const RunEvent& ended) const;
    // A run's end in the tile's state, words and counters.
    void Finish(const PortResult& result);
    void Stop();
    void StopAndJoin();

    // What the records say of the latest run besides its result.
    const ImageFacts& RunImage() const { return m_image; }
    const std::string& AdapterSerial() const { return m_adapterSerial; }

private:
    JobTile m_job;
    TileDevice m_now;
    TileView m_view;
    std::string m_resultWord;  // the latest result's state word; empty before the first
    bool m_awaiting = false;
    TileView m_beforeCheck;
    std::unique_ptr<CPortRun> m_run;  // the latest run's
    std::uint32_t m_startedMs = 0;
    ImageFacts m_image;
    std::string m_adapterSerial;
};

// The tiles in order, and where the next scan goes.
class CTileBoard {
public:
    std::size_t Size() const { return m_tiles.size(); }
    CStationTile& At(std::size_t index) { return *m_tiles.at(index); }
    const CStationTile& At(std::size_t index) const { return *m_tiles.at(index); }

    // The job's tiles, new: counters at 0, no numbers, none selected.
    void Reset(const std::vector<JobTile>& tiles);
    // The tiles for `names`, none selected: a port that stays keeps its
    // tile (counters, number and binding), a new one is bound to its
    // adapter's location where it has one now.
    void SetPorts(const std::vector<std::string>& names, const CPortMap& ports,
                  const std::vector<SerialDeviceInfo>& devices);

    std::vector<JobTile> JobTiles() const;
    std::vector<TileView> Views() const;
    std::optional<std::size_t> FindRun(std::uint64_t runId) const;
    bool AnyLoading() const;

    // The tile the operator chose last, or that took the last number;
    // nullopt for new tiles.
    std::optional<std::size_t> Selected() const { return m_selected; }
    void Select(std::size_t index) { m_selected = index; }
    // The first tile after the selected one, in order and round, that waits
    // for a number (from the first when none is selected); nullopt when
    // none does.
    std::optional<std::size_t> WaitingForNumber() const;

private:
    std::vector<std::unique_ptr<CStationTile>> m_tiles;
    std::optional<std::size_t> m_selected;
};

}  // namespace veltrad
