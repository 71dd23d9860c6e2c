#include "station/StationTexts.h"

#include "base/Utf8Path.h"
#include "station/StationJob.h"
#include "window/ReasonTexts.h"

#include <cstdio>
#include <system_error>

namespace veltrad {
namespace {

// The notices' captions and check items, word for word.
constexpr char kComplete[] = "다운로드 완료";
constexpr char kCommError[] = "통신 오류";
constexpr char kFail[] = "다운로드 실패";
constexpr char kCheckDownloadMode[] = "단말기가 다운로드 모드인지 확인.";
constexpr char kCheckCable[] = "단말기와 PC간에 케이블 연결이 정상적인지 확인.";
constexpr char kCheckComPort[] = "COM 포트 설정이 맞는지 확인.";
constexpr char kRunAgain[] = "다운로드를 재실행 바랍니다.";

// The system's reason for an errno, in the words both windows use.
std::string SystemReason(int systemError) { return KoreanErrno(systemError); }

std::string Section(const std::string& name) { return "[" + name + "]"; }

std::string FirstAt(std::size_t line) { return " (처음은 " + std::to_string(line) + "번째 줄)"; }

std::string JobProblemText(const JobFileError& e)
{
    switch (e.problem) {
    case JobProblem::Unreadable: return "읽을 수 없습니다: " + SystemReason(e.systemError);
    case JobProblem::TooLarge: return "작업 파일이라기에는 너무 큽니다";
    case JobProblem::NotText: return "텍스트 파일이 아닙니다";
    case JobProblem::BadEncoding: return "UTF-8이나 UTF-16 텍스트가 아닙니다";
    case JobProblem::Unwritable: return "저장할 수 없습니다: " + SystemReason(e.systemError);
    case JobProblem::SectionUnclosed: return "섹션 이름에 ']'가 없습니다";
    case JobProblem::TextAfterSection: return Section(e.name) + " 뒤에 다른 글자가 있습니다";
    case JobProblem::UnknownSection:
        return "알 수 없는 섹션 " + Section(e.name) + " (작업에는 [Job]과 [Tile1]부터 [Tile16]까지가 있습니다)";
    case JobProblem::SectionTwice: return Section(e.name) + " 섹션이 두 번 있습니다" + FirstAt(e.firstLine);
    case JobProblem::NotKeyValue: return "섹션도 키=값도 아닌 줄입니다";
    case JobProblem::KeyOutsideSection: return "섹션 밖의 키입니다: " + e.name;
    case JobProblem::UnknownKey: return Section(e.other) + "에 알 수 없는 키입니다: " + e.name;
    case JobProblem::KeyTwice: return Section(e.other) + "에 " + e.name + " 키가 두 번 있습니다" + FirstAt(e.firstLine);
    case JobProblem::BadSha256: return "SHA-256이 16진수 64자리가 아닙니다";
    case JobProblem::BadFlag: return e.name + " 값은 0이나 1이어야 합니다";
    case JobProblem::NoSuchPort: return e.name + ": " + station_text::kNoSuchPort;
    case JobProblem::PortTwice:
        return (e.name == e.other ? e.name : e.other + ", " + e.name) + ": 같은 포트가 두 번 있습니다" +
               FirstAt(e.firstLine);
    case JobProblem::NoJobSection: return "[Job] 섹션이 없습니다. 작업 파일이 아닙니다";
    case JobProblem::TileWithoutPort: return Section(e.name) + "에 Port가 없습니다";
    case JobProblem::ImageWithoutSha256: return "이미지에 SHA-256이 없습니다";
    }
    return {};
}

// "확인된 프레임 20/40": K of N frames acknowledged; "프레임 21/40": the K-th of N.
// (A figure takes no particle: its reading would choose it.)
std::string Acknowledged(const RunStats& s)
{
    return "확인된 프레임 " + std::to_string(s.acknowledged) + "/" + std::to_string(s.frames);
}
std::string NextFrame(const RunStats& s)
{
    return "프레임 " + std::to_string(s.acknowledged + 1) + "/" + std::to_string(s.frames);
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f 초", seconds);
    return text;
}

}  // namespace

std::string JobErrorText(const JobFileError& error)
{
    std::string text = Utf8FromPath(error.file) + ": ";
    if (error.line != 0)
        text += std::to_string(error.line) + "번째 줄: ";
    return text + JobProblemText(error);
}

std::string OutcomeReason(RunOutcome outcome, const RunStats& s)
{
    // The tile's state word is the notice's caption already; what to check,
    // from the notices, stands beside the reason (OutcomeText::hint).
    const std::string again = std::string(" ") + kRunAgain;
    const std::string gone = "포트가 사라졌습니다 (케이블이나 어댑터가 뽑혔습니까?). ";
    const bool timedOut = outcome == RunOutcome::TimedOut || outcome == RunOutcome::TimedOutAfterAck;
    // A device that went away explains a cut-short write too.
    if (timedOut && s.lastWriteCutShort && !s.portGone) {
        return "단말기가 XOFF로 회선을 쓰기 제한 시간보다 오래 멈춰 두어 프레임을 보내지 못했습니다 (" + NextFrame(s) +
               ")." + again;
    }
    if (timedOut && !s.portGone && s.earlyReplies > 0) {
        return "단말기의 응답이 115200 baud 회선이 프레임을 나를 수 있는 것보다 빨리 왔습니다 "
               "(시뮬레이터를 --instant로 실행했습니까? 그렇게 빨리 응답하는 단말기는 없습니다). " +
               Acknowledged(s);
    }
    switch (outcome) {
    case RunOutcome::Completed: return "프레임 " + std::to_string(s.frames) + "개, " + Seconds(s.seconds);
    case RunOutcome::TimedOut:
        if (s.portGone)
            return "단말기가 응답하기 전에 " + gone + Acknowledged(s);
        return "단말기가 첫 프레임에 5 초 안에 응답하지 않았습니다.";
    case RunOutcome::TimedOutAfterAck:
        if (s.portGone)
            return gone + Acknowledged(s) + "." + again;
        return "단말기가 응답을 멈췄습니다 (" + Acknowledged(s) + ")." + again;
    case RunOutcome::Refused: return "단말기가 같은 프레임을 다섯 번 거부했습니다 (" + NextFrame(s) + ").";
    case RunOutcome::Stopped: return Acknowledged(s);
    case RunOutcome::EndHeld:
        return "모든 프레임이 확인되었지만 단말기가 XOFF로 회선을 멈춰 두어 끝 바이트를 보내지 못했습니다.";
    case RunOutcome::PortOpenFailed: return "포트를 열 수 없습니다.";
    case RunOutcome::ThreadFailed: return station_text::kThreadFailedReason;
    case RunOutcome::NothingToSend:
    case RunOutcome::FileError:
        return station_text::kNothingToSendReason;  // the station starts no run over an unread image
    }
    return kRunAgain;
}

std::string PortOpenFailedReason(const PortError& error) { return "포트를 열 수 없습니다: " + KoreanPortError(error); }

OutcomeText TextOfOutcome(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return {TileState::Complete, kComplete, ""};
    case RunOutcome::TimedOut: return {TileState::Failed, kCommError, kCheckDownloadMode};
    case RunOutcome::TimedOutAfterAck: return {TileState::Failed, kCommError, kCheckCable};
    case RunOutcome::Refused: return {TileState::Failed, kFail, kRunAgain};
    // Every frame acknowledged, the closing bytes held back: not loaded.
    case RunOutcome::EndHeld: return {TileState::Failed, kFail, kRunAgain};
    case RunOutcome::Stopped: return {TileState::Idle, "중지됨", ""};
    case RunOutcome::PortOpenFailed: return {TileState::Failed, "Port open fail", kCheckComPort};
    case RunOutcome::ThreadFailed: return {TileState::Failed, kFail, kRunAgain};
    case RunOutcome::NothingToSend:
    case RunOutcome::FileError: return {TileState::Failed, kFail, ""};
    }
    return {TileState::Failed, kFail, kRunAgain};
}

}  // namespace veltrad
