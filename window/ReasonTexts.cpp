#include "window/ReasonTexts.h"

#include "base/Utf8Path.h"
#include "image/DownloadImage.h"

#include <array>
#include <cerrno>
#include <string_view>

namespace veltrad {
namespace {

struct ErrnoText {
    int errnum;
    std::string_view text;
};

// EAGAIN and EWOULDBLOCK may be one value: only the first row of a value counts.
const std::array kErrnoTexts = {
    ErrnoText{EACCES, "권한이 없습니다"},
    ErrnoText{EPERM, "권한이 없습니다"},
    ErrnoText{EBUSY, "다른 프로그램이 사용 중입니다"},
    ErrnoText{ETXTBSY, "다른 프로그램이 사용 중입니다"},
    ErrnoText{ENOENT, "그런 파일이나 폴더가 없습니다"},
    ErrnoText{ENXIO, "그런 장치가 없습니다"},
    ErrnoText{ENODEV, "그런 장치가 없습니다"},
    ErrnoText{ENOSPC, "디스크가 가득 찼습니다"},
    ErrnoText{ENOTDIR, "폴더가 아닙니다"},
    ErrnoText{EISDIR, "파일이 아니라 폴더입니다"},
    ErrnoText{EROFS, "읽기 전용 파일 시스템입니다"},
    ErrnoText{EEXIST, "이미 있습니다"},
    ErrnoText{ENAMETOOLONG, "경로가 너무 깁니다"},
    ErrnoText{ELOOP, "심볼릭 링크를 따라갈 수 없습니다"},
    ErrnoText{EIO, "입출력 오류가 났습니다"},
    ErrnoText{ENOMEM, "메모리가 부족합니다"},
    ErrnoText{EFBIG, "파일이 너무 큽니다"},
    ErrnoText{EMFILE, "열린 파일이 너무 많습니다"},
    ErrnoText{ENFILE, "열린 파일이 너무 많습니다"},
    ErrnoText{EAGAIN, "지금은 사용할 수 없습니다. 잠시 후에 다시 하십시오"},
    ErrnoText{ETIMEDOUT, "시간이 초과되었습니다"},
    ErrnoText{EINTR, "중단되었습니다"},
};

constexpr char kSystemError[] = "시스템 오류";

std::string_view TextOfErrno(int errnum)
{
    for (const ErrnoText& row : kErrnoTexts) {
        if (row.errnum == errnum)
            return row.text;
    }
    return {};
}

std::string PortWhy(const PortError& e)
{
    switch (e.reason) {
    case PortErrorReason::None: return {};
    case PortErrorReason::NoPortGiven: return "포트를 지정하지 않았습니다";
    case PortErrorReason::PortNumberOutOfRange: return "그런 포트는 없습니다 (COM1 ~ COM50)";
    case PortErrorReason::NoSuchDevice: return "그런 장치가 없습니다";
    case PortErrorReason::PermissionDenied: return "권한이 없습니다 (사용자를 dialout 그룹에 넣으십시오)";
    case PortErrorReason::InUse: return "다른 프로그램이 사용 중입니다";
    case PortErrorReason::NotResponding: return "장치가 응답하지 않습니다";
    case PortErrorReason::NotASerialDevice: return "직렬 포트가 아닙니다";
    case PortErrorReason::ControllingTerminal:
        return "이 프로그램이 실행 중인 터미널이지 직렬 포트가 아닙니다 (단말기가 연결된 포트를 지정하십시오)";
    case PortErrorReason::Console: return "콘솔이지 직렬 포트가 아닙니다";
    case PortErrorReason::PtyMultiplexer:
        return "의사 터미널 멀티플렉서이지 직렬 포트가 아닙니다 (/dev/pts 장치를 지정하십시오)";
    case PortErrorReason::LineSettings:
        return "드라이버가 다운로드의 통신 설정(115200 baud, 8N1, XON/XOFF)을 받아들이지 않습니다";
    case PortErrorReason::SystemCall: return "포트를 준비하지 못했습니다: " + KoreanSystemError(e.systemError);
    }
    return kSystemError;
}

std::string ImageWhy(const ImageError& e)
{
    if (e.stopped)
        return "읽기를 중지했습니다";
    switch (e.errnum) {
    case 0: return "일반 파일이 아닙니다 (파이프, 장치 또는 소켓)";
    case EFBIG:
        return "4 GiB(" + std::to_string(kMaxImageFileSize) + " Byte)보다 큽니다. 32비트 프레임 주소가 닿지 않습니다";
    case ENOMEM: return "프레임을 만들 메모리가 부족합니다";
    // What the image layer could not name carries the system's own words.
    case EIO: return KoreanErrno(EIO, e.reason);
    default: return KoreanErrno(e.errnum);
    }
}

}  // namespace

std::string KoreanErrno(int errnum, const std::string& systemText)
{
    const std::string_view korean = TextOfErrno(errnum);
    const bool saysMore = !systemText.empty() && systemText != std::generic_category().message(errnum);
    if (korean.empty())
        return std::string(kSystemError) + " (" + (saysMore ? systemText : std::generic_category().message(errnum)) +
               ")";
    return saysMore ? std::string(korean) + " (" + systemText + ")" : std::string(korean);
}

std::string KoreanErrorCode(const std::error_code& error)
{
    if (error.category() == std::generic_category())
        return KoreanErrno(error.value());
    if (error.category() == std::system_category())
        return KoreanSystemError(error.value());
    return std::string(kSystemError) + " (" + error.message() + ")";
}

std::string KoreanPortError(const PortError& error)
{
    const std::string why = PortWhy(error);
    if (why.empty() || error.device.empty())
        return why;
    // Windows' device namespace ("\\.\COM10") is syntax, not the port's name.
    std::string_view name = error.device;
    if (name.rfind("\\\\.\\", 0) == 0)
        name.remove_prefix(4);
    return std::string(name) + ": " + why;
}

std::string KoreanImageError(const ImageError& error)
{
    if (error.path.empty())
        return "파일을 선택하지 않았습니다";
    return Utf8FromPath(error.path) + ": " + ImageWhy(error);
}

std::string KoreanSettingsProblem(const std::filesystem::path& file, const IniReadError& error)
{
    std::string why;
    switch (error.problem) {
    case IniProblem::None:
    case IniProblem::Missing:
    case IniProblem::Unreadable: why = KoreanErrno(error.systemError); break;
    case IniProblem::TooLarge: why = "설정 파일로는 너무 큽니다"; break;
    case IniProblem::NotText: why = "텍스트 파일이 아닙니다"; break;
    case IniProblem::BadEncoding: why = "UTF-8이나 UTF-16 텍스트가 아닙니다"; break;
    }
    if (error.line != 0)
        why += " (" + std::to_string(error.line) + "번째 줄)";
    return Utf8FromPath(file) + ": " + why;
}

}  // namespace veltrad
