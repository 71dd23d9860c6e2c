#pragma once
// Every text the station shows, in Korean like the main window's, kept once
// for the Qt and the Win32 station. A run's outcome is said in the notices'
// words (their captions and check items) beside the command-line tool's
// sentence, so an operator reads the same words at the line as at the desk.

#include "download/RunObserver.h"
#include "serial/PortError.h"

#include <string>
#include <string_view>

namespace veltrad {

struct JobFileError;

// The colour family a tile's state is drawn in; the view picks the colours.
enum class TileState {
    Idle,        // ready; also after a run was stopped
    NotPresent,  // the adapter is not plugged in: dimmed
    Loading,     // a run is on
    Complete,
    Failed,
};

// How the station names one outcome: its state, its word and the notice's
// advice.
struct OutcomeText {
    TileState state;
    std::string_view word;  // the tile's state in words
    std::string_view hint;  // what to check, from the notices; empty when nothing
};

OutcomeText TextOfOutcome(RunOutcome outcome);

// "<file>: 3번째 줄: ..." : why a job file was refused or not saved.
std::string JobErrorText(const JobFileError& error);
// Why a run ended as it did, for its tile beside its state word (the
// notice's caption) and what to check: in the notices' words with its
// figures (frame K of N, seconds), as the command-line tool's sentence says
// it in English: "단말기가 응답을 멈췄습니다 (확인된 프레임 4/24). ...". A device
// that went away and a line held by XOFF are said as such.
std::string OutcomeReason(RunOutcome outcome, const RunStats& stats);
// Why a run never started.
std::string PortOpenFailedReason(const PortError& error);  // "포트를 열 수 없습니다: COM3: ..."

namespace station_text {

inline constexpr char kTitle[] = "Veltrad Station";
inline constexpr char kIdle[] = "대기";
inline constexpr char kNotPresent[] = "연결 안 됨";
inline constexpr char kLoading[] = "다운로드 중";
inline constexpr char kCheckingImage[] = "이미지 확인 중";  // read and hashed before the run starts
inline constexpr char kNeedsSerial[] = "일련번호 입력 대기";

// Buttons and labels.
inline constexpr char kOpenJob[] = "작업 열기";
inline constexpr char kSaveJob[] = "작업 저장";
inline constexpr char kNewJob[] = "새 작업";
inline constexpr char kEditJob[] = "작업 편집";
inline constexpr char kChooseImage[] = "이미지 선택";
inline constexpr char kStartAll[] = "모두 시작 (Enter, F5)";
inline constexpr char kStopAll[] = "모두 중지";
inline constexpr char kStart[] = "시작";
inline constexpr char kStop[] = "중지";
inline constexpr char kOpenRecords[] = "기록 폴더 열기";
inline constexpr char kCopy[] = "복사";
inline constexpr char kJobName[] = "작업 이름";
inline constexpr char kImage[] = "이미지";
inline constexpr char kPorts[] = "포트";
inline constexpr char kSerialNumber[] = "일련번호";
inline constexpr char kAskSerial[] = "일련번호 입력";
inline constexpr char kSounds[] = "소리";
inline constexpr char kRecords[] = "기록";
inline constexpr char kLocked[] = "잠김";
inline constexpr char kCompleted[] = "완료";
inline constexpr char kFailed[] = "실패";
inline constexpr char kStation[] = "스테이션";
inline constexpr char kFrames[] = "프레임";
inline constexpr char kSecondsLeft[] = "남음";
inline constexpr char kSeconds[] = "초";

// Messages.
inline constexpr char kImageChanged[] = "이미지 파일이 작업의 이미지와 다릅니다. 다운로드하지 않았습니다.";
inline constexpr char kImageUnreadable[] = "이미지 파일을 읽을 수 없습니다. 다운로드하지 않았습니다.";
inline constexpr char kNothingToSend[] = "이미지에 보낼 데이터가 없습니다 (모두 0).";
inline constexpr char kNoImage[] = "작업에 이미지가 없습니다. 작업 편집에서 이미지를 선택하십시오.";
inline constexpr char kJobUnreadable[] = "작업 파일을 열 수 없습니다. 지금의 작업은 그대로입니다.";
inline constexpr char kJobUnsaved[] = "작업 파일을 저장할 수 없습니다.";
inline constexpr char kRecordsUnwritable[] = "기록을 쓸 수 없습니다. 다운로드는 계속됩니다.";
inline constexpr char kRecordsNotShown[] = "기록 폴더를 열 수 없습니다.";
inline constexpr char kRecordsPending[] =
    "기록을 아직 쓰지 못해 보관하고 있습니다. 쓸 수 있게 되는 대로 씁니다. 다운로드는 계속됩니다.";
inline constexpr char kRecordsRestarted[] = "기록 파일이 지워졌거나 옮겨져서 새 파일에 이어 씁니다.";
inline constexpr char kRecordsKept[] = "쓰지 못한 기록을 다음 파일에 보관했습니다.";
inline constexpr char kRecordsLost[] = "쓰지 못한 기록을 보관할 곳이 없습니다.";
// "기록 대기 3 (다른 프로그램이 사용 중)" and why records wait.
inline constexpr char kRecordsWaiting[] = "기록 대기";
inline constexpr char kCauseInUse[] = "다른 프로그램이 사용 중";
inline constexpr char kCauseDiskFull[] = "디스크 공간 부족";
inline constexpr char kCauseNotAFile[] = "일반 파일이 아님";
inline constexpr char kCauseDeviceName[] = "장치 이름";
inline constexpr char kCauseLink[] = "링크 (따라가지 않음)";
inline constexpr char kCauseDenied[] = "쓰기 권한 없음";
inline constexpr char kCauseNoFolder[] = "폴더 없음";
inline constexpr char kCauseOther[] = "쓰기 실패";
inline constexpr char kTooManyPorts[] = "포트는 16개까지입니다.";
inline constexpr char kPortTwice[] = "같은 포트가 두 번 있습니다.";
inline constexpr char kNoSuchPort[] = "포트가 아닙니다. 포트는 COM1부터 COM50까지, 또는 장치 경로입니다.";
inline constexpr char kAskEnd[] = "다운로드가 진행 중입니다. 모두 중지하고 끝낼까요?";
// The question's buttons, where the toolkit's Yes and No would not say it.
inline constexpr char kEndAll[] = "모두 중지하고 끝내기";
inline constexpr char kGoOn[] = "계속 다운로드";
inline constexpr char kThreadFailedReason[] = "다운로드를 시작할 수 없습니다: 시스템이 스레드를 더 만들 수 없습니다";
inline constexpr char kNothingToSendReason[] = "보낼 데이터가 없습니다";
inline constexpr char kNoSha[] = "이 시스템에서는 SHA-256을 계산할 수 없습니다.";
inline constexpr char kShaOfJob[] = "SHA-256 (작업)";
inline constexpr char kShaOfFile[] = "SHA-256 (파일)";

// The file dialogs' filters: the name of each kind of file.
inline constexpr char kImageFiles[] = "이미지 파일";
inline constexpr char kJobFiles[] = "작업 파일";
inline constexpr char kAllFiles[] = "모든 파일";
// "UNIT-7: ...": a scanned number that no tile waits for, beside the serial-number field.
inline constexpr char kNoTileForNumber[] =
    "받을 타일이 없어 받지 않았습니다. 번호를 바꿀 타일은 눌러서 고른 뒤 스캔하십시오.";
inline constexpr char kRunsGoingOn[] = "다운로드가 진행 중입니다. 먼저 모두 중지하십시오.";

}  // namespace station_text
}  // namespace veltrad
