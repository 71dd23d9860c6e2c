#pragma once
// The reasons both windows and both stations give in Korean, kept once: the
// system's common errors (in use, permission denied, no such file or device,
// disk full, not a folder, ...), a port that does not open, an image file
// that cannot be read. The system's own text follows the Korean only where
// it says more than the Korean does. The command-line tool and the logs keep
// the core's English words (PortError::Message, ImageError::Message).

#include "image/ImageError.h"
#include "serial/PortError.h"
#include "settings/IniText.h"

#include <filesystem>

#include <string>
#include <system_error>

namespace veltrad {

// An errno value in Korean. `systemText`, the system's words for it, is added
// in brackets when it differs from the plain message of that errno (a
// Windows message behind an errno, say); an errno without Korean words is
// "시스템 오류" with the system's words.
std::string KoreanErrno(int errnum, const std::string& systemText = {});

// A system error of this platform in Korean: an errno on Linux, a
// GetLastError() code on Windows (the codes without Korean words with the
// system's own text and number).
std::string KoreanSystemError(int systemError);

// A file-system error as the standard library reports it.
std::string KoreanErrorCode(const std::error_code& error);

// "<device>: <why>", as PortError::Message says it in English.
std::string KoreanPortError(const PortError& error);

// "<path>: <why>", as ImageError::Message says it in English.
std::string KoreanImageError(const ImageError& error);

// Said once at the start, by the windows and the stations, when the settings
// file is there but cannot be read; KoreanSettingsProblem is its detail:
// "<file>: <why> (3번째 줄)".
inline constexpr char kSettingsUnreadable[] =
    "설정 파일을 읽을 수 없어 기본 설정으로 시작합니다. 설정 파일은 바꾸지 않습니다.";
std::string KoreanSettingsProblem(const std::filesystem::path& file, const IniReadError& error);

}  // namespace veltrad
