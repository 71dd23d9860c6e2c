#include "station/StationTexts.h"

#include "base/Utf8Path.h"
#include "station/StationJob.h"

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

// The system's reason for an errno. The station's own Korean words for
// them belong here when they come.
std::string SystemReason(int systemError) { return std::generic_category().message(systemError); }

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

}  // namespace

std::string JobErrorText(const JobFileError& error)
{
    std::string text = Utf8FromPath(error.file) + ": ";
    if (error.line != 0)
        text += std::to_string(error.line) + "번째 줄: ";
    return text + JobProblemText(error);
}

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
