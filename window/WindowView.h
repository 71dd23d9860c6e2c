#pragma once
// What the main window's logic asks of a front end. A front end (the Qt
// dialog, the Win32 dialog, a test's fake) draws and forwards; it decides
// nothing. Every call but PostRunEvents comes on the window's thread.

#include "download/RunObserver.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

// One entry of the port list: "COM7", the device it stands for ("" when the
// number names none), and whether that device is on the machine now, with
// what it is ("FT232R USB UART, FTDI, serial A50285BI"; "" when absent).
struct PortEntry {
    std::string name;
    std::string device;
    std::string description;
    bool present = false;
};

// A message box: the caption is the application's name; `detail` may be empty.
struct WindowMessage {
    std::string text;
    std::string detail;
};

class IWindowView {
public:
    virtual ~IWindowView() = default;

    // The 50 entries, in order, and the selected index (-1: none). Called
    // again with the same names when the list opens, so that tooltips and
    // marks of present devices are up to date when the operator looks.
    virtual void ShowPorts(const std::vector<PortEntry>& ports, int selected) = 0;
    // Edits 1000 and 1001 (UTF-8; empty clears).
    virtual void ShowFile(const std::string& name, const std::string& sizeText) = 0;
    virtual void SetProgressRange(std::uint32_t maximum) = 0;
    virtual void SetProgressPos(std::uint32_t position) = 0;
    // The port list, the open-file and the download buttons, together.
    virtual void EnableControls(bool enable) = 0;

    // Modal on the window; return when the operator has dismissed them.
    virtual void ShowNotice(Notice notice) = 0;
    virtual void ShowMessage(const WindowMessage& message) = 0;
    virtual void ShowAbout() = 0;
    // The open-file dialog; nullopt when it was cancelled.
    virtual std::optional<std::filesystem::path> ChooseFile() = 0;

    // Ends the window's modal loop. The logic has stopped the run and joined
    // its worker before it calls this.
    virtual void EndDialog(bool ok) = 0;

    // From the run's worker thread: have the logic's DeliverRunEvents called
    // on the window's thread soon. Must return at once and never wait for the
    // window's thread.
    virtual void PostRunEvents() = 0;

    // The current run ended and its last event was shown (tests wait on it).
    virtual void OnRunEnded(std::uint64_t runId, RunOutcome outcome) { (void)runId, (void)outcome; }
};

}  // namespace veltrad
