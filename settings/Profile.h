#pragma once
// The settings file Veltrad.INI, read and written the way the platform's
// profile functions do it: writing one key rewrites only that key and keeps
// every other line of the file as it was, in the encoding it was read in
// (UTF-8 or UTF-16 LE, settings/IniText.h).

#include "settings/IniText.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrad {

inline constexpr char kProfileFileName[] = "Veltrad.INI";

class CProfile {
public:
    // An empty `file` is no settings file: every read gives its default and
    // every write fails, touching nothing.
    explicit CProfile(std::filesystem::path file);

    // $XDG_CONFIG_HOME/Veltrad.INI (default ~/.config) on Linux; the user's
    // roaming application-data folder on Windows. Empty when there is no
    // place for it (no absolute XDG_CONFIG_HOME or HOME).
    static std::filesystem::path DefaultPath();

    const std::filesystem::path& Path() const { return m_path; }

    // Why the file cannot be read, when it is there (too large, no text, an
    // encoding it is not in, the system's refusal): its keys then read as
    // their defaults and no write touches it. Nullopt when it reads or is
    // missing, which reads as all defaults. For the front ends to say once.
    std::optional<IniReadError> ReadProblem() const;

    // Signed decimal at the start of the value, rest of the line ignored;
    // `def` when the file, the section or the key is missing or unreadable.
    int GetProfileInt(std::string_view section, std::string_view key, int def) const;

    // The value text, trimmed; nullopt when missing.
    std::optional<std::string> GetProfileString(std::string_view section, std::string_view key) const;

    // Rewrites only this key (adding the section or key when missing): an
    // integer's number alone, keeping its quotes and a comment after it; a
    // string's whole value. A key that already reads as `value` leaves the
    // file untouched. False when the file cannot be written or is not a text
    // file; nothing changes then.
    bool WriteProfileInt(std::string_view section, std::string_view key, int value);
    bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value);

private:
    bool Write(std::string_view section, std::string_view key, std::string_view value, bool integer);

    std::filesystem::path m_path;
};

}  // namespace veltrad
