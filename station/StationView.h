#pragma once
// What the station's logic asks of a front end (the Qt station, the Win32
// station, a test's fake). A view draws what it is given and forwards the
// operator's actions; it decides nothing: every text, state, count and
// enabled flag comes from here. Every call but PostEvents comes on the
// window's thread.

#include "station/StationTexts.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

// One tile: a port of the job and what it is doing.
struct TileView {
    std::string name;     // the port as the job names it: "COM33"
    std::string device;   // what it opens now ("/dev/ttyUSB3"); empty when not present
    std::string adapter;  // "FT232R USB UART, FTDI, serial A50285BI"; empty when unknown
    TileState state = TileState::Idle;
    std::string word;                // the state in words: "대기", "다운로드 중", "통신 오류", ...
    std::string detail;              // loading: frames, rate, time left; complete: its time; failed: the reason
    std::string hint;                // failed: what to check, in the notices' words; else empty
    std::uint32_t acknowledged = 0;  // the bar: acknowledged of frames
    std::uint32_t frames = 0;
    std::string serialNumber;  // the unit's, typed or scanned; empty: none yet
    bool needsSerial = false;  // the job asks for one and none was given
    bool selected = false;     // where the next scan goes
    bool canStart = false;
    bool canStop = false;
    unsigned completed = 0;  // since the job was opened
    unsigned failed = 0;

    friend bool operator==(const TileView&, const TileView&) = default;
};

// The job as the window shows it.
struct JobView {
    std::string name;
    std::string file;       // the job file it was opened from or saved to; empty: none yet
    std::string imageName;  // without its folder
    std::string imagePath;
    std::string sizeText;  // "49152 Byte"
    std::uint32_t frames = 0;
    std::string shaShort;  // the first 16 hex digits, for the label
    std::string sha;       // all 64, for the tooltip and the clipboard
    std::string ports;     // the tiles' ports, "COM33 COM34"
    bool serialNumbers = false;
    bool sounds = true;
    std::string records;  // the folder records go to now
    bool locked = false;  // opened from a file: edits need "edit job" first
};

struct StationCounters {
    unsigned completed = 0;  // since the job was opened
    unsigned failed = 0;
    unsigned loading = 0;         // runs going on now
    unsigned pendingRecords = 0;  // record lines kept because they cannot be written now
    std::string recordsCause;     // why, in words; empty when none are kept
};

struct StationMessage {
    std::string text;
    std::string detail;  // may be empty
};

enum class StationSound { Complete, Failed };

class IStationView {
public:
    virtual ~IStationView() = default;

    virtual void ShowJob(const JobView& job) = 0;
    // Every tile, in order: the count may have changed, so lay the grid out again.
    virtual void ShowTiles(const std::vector<TileView>& tiles) = 0;
    // One tile changed.
    virtual void ShowTile(std::size_t index, const TileView& tile) = 0;
    virtual void ShowCounters(const StationCounters& counters) = 0;
    // Beside the serial-number field, until the next scan: a scan that was
    // refused and why; empty: nothing to say.
    virtual void ShowScanStatus(const std::string& text) = 0;

    // Modal on the window; return when the operator has dismissed them.
    virtual void ShowMessage(const StationMessage& message) = 0;
    // Yes or no; true: end.
    virtual bool AskEnd(const std::string& question) = 0;
    virtual std::optional<std::filesystem::path> ChooseImage() = 0;
    virtual std::optional<std::filesystem::path> ChooseJobToOpen() = 0;
    virtual std::optional<std::filesystem::path> ChooseJobToSave() = 0;

    // The desktop's own short sounds; must not wait for them to end.
    virtual void PlaySound(StationSound sound) = 0;
    // Shows the folder in the desktop's file manager.
    virtual void OpenFolder(const std::filesystem::path& folder) = 0;

    // Closes the window. Every run has been stopped and every worker joined.
    virtual void EndWindow() = 0;

    // From any thread, workers included: have DeliverEvents called on the
    // window's thread soon. Must return at once and never wait for that thread.
    virtual void PostEvents() = 0;

    // A tile's run ended and its tile was shown (tests and benches wait on it).
    virtual void OnRunEnded(std::size_t index) { (void)index; }
};

}  // namespace veltrad
