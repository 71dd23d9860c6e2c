#pragma once
// How the station tells a scanner from a hand at the keyboard. A scanner
// types like a keyboard, a key every millisecond or so, and ends with Enter
// (some with CR LF, some with a Tab inside the number); a hand leaves tens
// of milliseconds between keys. Both stations hand every character, Tab and
// Enter meant for the station's window here, with the time the system gives
// the key, before any control takes it, and do as they are told: so a scan
// reaches the serial-number field wherever the focus is, a Tab inside a scan
// moves no focus, and the Enter that ends a scan never starts a run, while
// Enter alone still starts every idle tile.

#include <cstdint>
#include <optional>

namespace veltrad {

// Keys closer together than this belong to one scan (milliseconds).
inline constexpr std::uint32_t kScanKeyGapMs = 30;

enum class ScanKey {
    Character,  // any printable character but the space
    Space,      // which also presses a focused button
    Tab,        // either way round
    Enter,      // either Enter key
};

// Where the keyboard's focus is in the station's window.
enum class KeyFocus {
    SerialField,  // the serial-number field
    TextField,    // another field that takes typing now (the job's name and ports, unlocked)
    Elsewhere,    // a button, a check box, a read-only field, the window itself
};

enum class KeyRoute {
    AsUsual,    // the focused control takes the key as it would
    IntoField,  // the key goes into the serial-number field, which takes the focus
    Dropped,    // nothing takes it
    Number,     // Enter: the field's text was entered as a number; the field is emptied
    StartAll,   // Enter alone: every idle tile starts
};

class CScanKeys {
public:
    // The route of one key pressed at `timeMs` (the system's key time, any
    // start, wrapping at 2^32). `fieldEmpty`: the serial-number field holds
    // nothing but blanks.
    KeyRoute Route(ScanKey key, KeyFocus focus, bool fieldEmpty, std::uint32_t timeMs);

private:
    std::optional<std::uint32_t> m_lastMs;  // the key before
};

}  // namespace veltrad
