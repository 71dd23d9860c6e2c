#pragma once
// A station's job: the approved image (path and SHA-256), the ports to load
// and the options, saved as a small INI file:
//
//   [Job]
//   Name=Main board, line 3
//   Image=/srv/images/kv9090-app.bin
//   SHA-256=<64 lower-case hex digits>
//   Serial numbers=1        ; a tile starts only with a unit's serial number
//   Sounds=1
//   Records=                ; empty: the user's data folder
//   [Tile1]
//   Port=COM33
//   Location=/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0
//
// Tiles are numbered from 1 without gaps, 16 at most. A tile's location,
// where it has one, is what it stays bound to (its USB socket).

#include "base/Utf8Path.h"

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
    std::filesystem::path image;
    std::string sha256;  // of the approved image; empty until one is chosen
    std::vector<JobTile> tiles;
    bool serialNumbers = false;
    bool sounds = true;
    std::filesystem::path records;  // empty: DefaultRecordsFolder()

    friend bool operator==(const StationJob&, const StationJob&) = default;
};

// Reads a job file; nullopt with `error` set ("<path>: line 4: ...") when it
// cannot be read or is no job. Unknown keys are an error too: a job that
// says more than the station understands is not loaded half.
std::optional<StationJob> ReadJobFile(const std::filesystem::path& path, std::string& error);

// Writes the job under a new name beside `path` and renames it over `path`,
// so a failed save leaves the old file whole. False with `error` set.
bool WriteJobFile(const std::filesystem::path& path, const StationJob& job, std::string& error);

}  // namespace veltrad
