#pragma once
// A station's job: the approved image (path and SHA-256), the ports to load
// and the options, saved as a small INI file:
//
//   [Job]
//   Name=Main board, line 3
//   Image=/srv/images/kv9090-app.bin
//   SHA-256=<64 hex digits>
//   Serial numbers=1
//   Sounds=1
//   Records=
//   [Tile1]
//   Port=COM33
//   Location=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0
//
// With Serial numbers=1 a tile starts only with a unit's serial number; an
// empty Records is the user's data folder. Tiles are numbered from 1
// without gaps, 16 at most. A tile's location, where it has one, is what it
// stays bound to (its USB socket).

#include "base/Utf8Path.h"
#include "serial/PortMap.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrad {

inline constexpr std::size_t kMaxTiles = 16;
inline constexpr std::size_t kSha256HexDigits = 64;

struct JobTile {
    std::string port;      // "COM33" or a device path, as the operator named it
    std::string location;  // the adapter's place (by-path name); empty: the port itself

    friend bool operator==(const JobTile&, const JobTile&) = default;
};

struct StationJob {
    std::string name;
    std::filesystem::path image;  // absolute once read
    std::string sha256;           // of the approved image, lower case; empty until one is chosen
    std::vector<JobTile> tiles;
    bool serialNumbers = false;
    bool sounds = true;
    std::filesystem::path records;  // empty: DefaultRecordsFolder()

    friend bool operator==(const StationJob&, const StationJob&) = default;
};

// Why a job file was refused or not saved, as a value; StationTexts words it.
enum class JobProblem {
    // The file.
    Unreadable,   // the system refused: systemError
    TooLarge,     // beyond kMaxJobFileSize
    NotText,      // a control byte on `line`, or no regular file
    BadEncoding,  // `line` is no UTF-8 (nor the file UTF-16 LE)
    Unwritable,   // saving: systemError
    // A line.
    SectionUnclosed,    // "[Job" without its ']'
    TextAfterSection,   // "[Job] more"
    UnknownSection,     // `name`, also "[Tile01]" and "[Tile17]"
    SectionTwice,       // `name`, first at `firstLine`
    NotKeyValue,        // neither a section nor key=value
    KeyOutsideSection,  // `name` before any section
    UnknownKey,         // `name` in section `other`
    KeyTwice,           // `name` in section `other`, first at `firstLine`
    BadSha256,          // not 64 hex digits
    BadFlag,            // `name` neither 0 nor 1
    NoSuchPort,         // `name` is outside COM1..COM50
    PortTwice,          // `name` opens the port `other` opened at `firstLine` (or the same location)
    // The job as a whole.
    NoJobSection,
    TileWithoutPort,     // `name` ("Tile2"); `line` its section's, 0 when it has none
    ImageWithoutSha256,  // the image has no digest to check it against
};

struct JobFileError {
    std::filesystem::path file;
    JobProblem problem = JobProblem::Unreadable;
    std::size_t line = 0;  // the line at fault, from 1; 0: the file as a whole
    std::string name;      // what the line names: a section, a key, a port
    std::string other;     // see JobProblem
    std::size_t firstLine = 0;
    int systemError = 0;  // errno
};

// Reads a job file: UTF-8 (a byte order mark allowed) or UTF-16 LE, section
// and key names in any case, a SHA-256 in either case. Relative Image and
// Records paths are the job file's folder's, so a job folder can be copied
// to another PC whole. `ports` tells which names open one port (a COM name
// and its device, two spellings of one COM name): a port twice is refused.
// Nullopt with `error` set when it cannot be read or is no job. Unknown or
// repeated keys and sections are an error too: a job that says more than
// the station understands is not loaded half.
std::optional<StationJob> ReadJobFile(const std::filesystem::path& path, const CPortMap& ports, JobFileError& error);

// Writes the job under a new name beside `path` and renames it over `path`,
// so a failed save leaves the old file whole. An image or records folder in
// the job file's folder (or below it) is written relative to it, any other
// as it is. False with `error` set.
bool WriteJobFile(const std::filesystem::path& path, const StationJob& job, JobFileError& error);

}  // namespace veltrad
