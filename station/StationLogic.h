#pragma once
// Veltrad Station's logic, free of any toolkit: the job, a tile per port,
// starting and stopping runs, the serial-number gate, the records, the
// sounds and the order of ending. The Qt station and the Win32 station are
// thin views over it (IStationView): they draw what it shows and call the
// handlers below on the window's thread.
//
// Its parts: each tile (station/StationTile.h) owns what it shows and its
// run, on a board that keeps them in order; the approved image
// (ApprovedImage.h) is read apart from everything else. The handlers live in
// StationLogic.cpp (the job, ending), StationTiles.cpp (the tiles, the
// serial-number gate) and StationRuns.cpp (runs, their events, the records).
//
// Principles of operation
// - The job names an approved image by path and SHA-256. Before every start
//   (one tile or all) the file is read and framed again and hashed, on a
//   worker of its own (CImageCheck) while the tiles say 이미지 확인 중; a file
//   that is missing, unreadable or not the approved one starts nothing, and
//   the window says why. The tiles that ask while a check reads share it:
//   what they send is what was hashed. A stop ends a tile's wait.
// - A scanned number goes to the tile that waits for one, in order and round
//   after the tile that took the last number. A number is never replaced silently: a scan that no
//   tile waits for is refused with the error sound and a word beside the
//   field; replacing one is choosing that tile (OnSelectTile) and scanning.
//   Which keys are a scan is CScanKeys' rule, the same for both stations.
// - A tile is a port of the job. Where its adapter has a location (Linux:
//   /dev/serial/by-path), the tile is bound to it when the ports are set and
//   follows it: the tile opens whatever device sits in that socket now, and
//   is "not present" while nothing does. Other tiles open their port's device.
//   OnDevicesChanged looks again; a running tile keeps what it opened.
// - A job opened from a file is locked: the edit handlers do nothing until
//   OnEditJob. Nothing about the job changes while a run is going on.
// - Each run is a CPortRun on a worker thread of its own. The workers report
//   on their threads into a CRunEventQueue, which asks the view once per
//   batch to post DeliverEvents to the window's thread, so no worker ever
//   waits for the window and the window can always stop and join them.
//   Events carry their run's id; those of a tile's earlier run are dropped.
// - A run's end is delivered once: the tile's state and counters, one record
//   line (the run log's, plus serial number, station and job), a sound. A
//   run that does not start ends at once, the same way.
// - Ending (OnCloseRequested, OnEndRequested, the destructor) stops every
//   run, joins every worker and delivers what they reported (so their
//   records are written) before the view is told to end. Records that still
//   cannot be written then go to a file of their own (KeptAtEnd says where).

#include "download/Clock.h"
#include "download/PortRun.h"
#include "download/RunEventQueue.h"
#include "multiport/PortResult.h"
#include "serial/PortList.h"
#include "serial/PortMap.h"
#include "station/ImageCheck.h"
#include "station/ScanKeys.h"
#include "station/StationJob.h"
#include "station/StationRecords.h"
#include "station/StationTile.h"
#include "station/StationView.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

class CProfile;

// What the station uses of the system; tests give their own. Everything
// given must outlive the logic.
struct StationServices {
    IClock* clock = nullptr;                                     // null: the system's
    std::function<ISerialPort*(std::size_t tile)> port;          // empty or null: a real port per run
    ThreadLauncher launcher;                                     // empty: a plain std::thread
    std::function<std::vector<SerialDeviceInfo>()> devices;      // empty: ListSerialDevices()
    std::function<std::chrono::system_clock::time_point()> now;  // the records' time; empty: the system's
    std::string hostName;                                        // empty: HostName()
    std::filesystem::path recordsFolder;  // for jobs that name none; empty: DefaultRecordsFolder()
};

class CStationLogic final {
public:
    // `ports` maps COM numbers to devices ([Ports] of the settings).
    CStationLogic(IStationView& view, CPortMap ports, StationServices services = {});
    // Stops every run and joins every worker.
    ~CStationLogic();
    CStationLogic(const CStationLogic&) = delete;
    CStationLogic& operator=(const CStationLogic&) = delete;

    // Shows the empty job and its (no) tiles.
    void OnInit();
    // The start, once the window shows: says when the settings file is there
    // but cannot be read (its ports are then the built-in ones), then opens
    // `job`. False when the station has ended meanwhile (a signal while a
    // message was up): a front end then has no loop to run.
    bool Begin(const CProfile& settings, const std::optional<std::filesystem::path>& job);

    // The job. Open and save ask the view for the file; the path forms are
    // what a command line or a test uses. False when nothing changed.
    void OnNewJob();
    void OnOpenJob();
    bool OpenJob(const std::filesystem::path& file);
    void OnSaveJob();
    bool SaveJob(const std::filesystem::path& file);
    void OnEditJob();  // unlocks an opened job
    // Edits, ignored while the job is locked or a run is going on.
    void OnChooseImage();
    bool SetImage(const std::filesystem::path& image);
    void OnJobName(const std::string& name);
    // Ports separated by blanks or commas, 16 at most: "COM33 COM34 /dev/ttyACM0".
    bool OnPortsText(const std::string& text);
    void OnSerialNumbers(bool on);
    void OnSounds(bool on);
    void OnRecordsFolder(const std::filesystem::path& folder);  // empty: the default

    // Runs.
    void OnStartTile(std::size_t index);
    // Enter or F5: every tile that can start, with one framing of the image.
    void OnStartAllIdle();
    void OnStopTile(std::size_t index);
    void OnStopAll();

    // The serial-number gate. A tile the operator chooses takes the next
    // number, even in place of its own (unless it is loading); otherwise a
    // number goes to the next tile that waits for one (Selected).
    void OnSelectTile(std::size_t index);
    // A number typed or scanned (blanks around it are no part of it).
    void OnSerialEntered(const std::string& text);
    // Each character, Tab and Enter meant for the station's window, before
    // a control takes it: the route CScanKeys gives it, after entering the
    // field's text as a number or starting every idle tile where it says so.
    KeyRoute OnKey(ScanKey key, KeyFocus focus, const std::string& fieldText, std::uint32_t timeMs);

    // The system says devices came or went (or a view's timer asks).
    void OnDevicesChanged();
    // The views' timer, about every 2 s: kept records are written when they can be.
    void OnTick();
    void OnOpenRecordsFolder();

    // The close box: asks once while runs go on; then stops, joins, ends.
    void OnCloseRequested();
    // A signal or the session's end: the same without asking.
    void OnEndRequested();
    bool Ended() const { return m_bEnded; }
    // After the end: records that could not be written and where they were
    // kept, for a front end that can still say it (the close box shows it).
    const std::optional<KeptRecords>& KeptAtEnd() const { return m_kept; }

    // On the window's thread, after the view posted it.
    void DeliverEvents();

    // State a view or a test may read.
    const JobView& Job() const { return m_jobView; }
    const StationJob& JobData() const { return m_job; }
    std::vector<TileView> Tiles() const { return m_board.Views(); }
    const StationCounters& Counters() const { return m_counters; }
    // Where the next number goes; nullopt when it would be refused.
    std::optional<std::size_t> Selected() const;
    std::filesystem::path RecordsFolder() const;
    bool AnyRunning() const { return m_board.AnyLoading(); }

private:
    // The job (StationLogic.cpp).
    bool Editable();
    void SetJob(StationJob job, std::string file, bool locked);
    void ShowJob();

    // The tiles (StationTiles.cpp).
    TileRules Rules() const;
    std::vector<SerialDeviceInfo> Devices() const;
    void Refresh(std::size_t index, const std::vector<SerialDeviceInfo>& devices);
    void ShowTile(std::size_t index);
    void ShowAllTiles();
    // Redraws the tiles that the next number's target left and reached.
    void ShowTarget();
    void Select(std::size_t index);

    // The runs (StationRuns.cpp).
    // Shows `tiles` waiting for the image's check, and begins one unless one reads.
    void AwaitImage(const std::vector<std::size_t>& tiles);
    void BeginCheck();
    // A check's result: the job's size, the waiting tiles started, or why not.
    void TakeImageCheck();
    void StopAwaiting(std::size_t index);
    void Start(std::size_t index, const ApprovedImage& image);
    // A tile's run has ended, or did not start: its tile, counters, record and sound.
    void Finish(std::size_t index, const PortResult& result);
    void Record(const CStationTile& tile, const PortResult& result);
    // The records' news: counters at once, boxes after the delivery.
    void Tell(const RecordsNews& news);
    // After ends: the counters, the view told, the messages kept until now.
    void AfterEnds(const std::vector<std::size_t>& ended);

    // Ending (StationLogic.cpp).
    void Report(const StationMessage& message);
    void StopAndJoinAll();
    void End(bool tell);

    IStationView& m_view;
    const CPortMap m_portMap;
    StationServices m_services;
    std::unique_ptr<IClock> m_systemClock;
    IClock* m_clock;

    CRunEventQueue m_events;  // the runs', until DeliverEvents takes them
    CImageCheck m_check;
    std::vector<std::size_t> m_checkTiles;  // waiting for m_check's result
    bool m_checkForJob = false;             // the job's opening asked for it
    CScanKeys m_keys;
    std::optional<std::size_t> m_chosen;       // chosen by the operator for the next number
    std::optional<std::size_t> m_shownTarget;  // the tile shown as the next number's
    StationJob m_job;
    JobView m_jobView;
    CTileBoard m_board;  // after the queue, which its runs report to
    StationCounters m_counters;
    CStationRecords m_records;  // for the logic's life: kept lines outlive a job
    std::optional<KeptRecords> m_kept;
    std::vector<StationMessage> m_pendingMessages;  // shown after a delivery
    bool m_bAsking = false;
    bool m_bEnding = false;
    bool m_bEnded = false;
};

}  // namespace veltrad
