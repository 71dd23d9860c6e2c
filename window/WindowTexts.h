#pragma once
// The main window's own messages, in Korean like its face, for the Qt and
// the Win32 window alike (the reasons they carry: window/ReasonTexts.h).

#include <string>

namespace veltrad::window_text {

inline constexpr char kFileUnreadable[] = "파일을 읽을 수 없습니다.";
inline constexpr char kNoPortOpened[] = "포트를 열지 않았습니다.";
inline constexpr char kNotStarted[] = "다운로드를 시작할 수 없습니다.";
inline constexpr char kNoThread[] = "시스템이 스레드를 더 만들 수 없습니다. 포트를 다시 닫았습니다.";

// "보낼 데이터가 없습니다: image.bin의 모든 바이트가 0입니다."
inline std::string NothingToSend(const std::string& fileName)
{
    return "보낼 데이터가 없습니다: " + (fileName.empty() ? std::string("파일") : fileName) +
           "의 모든 바이트가 0입니다.";
}

}  // namespace veltrad::window_text
