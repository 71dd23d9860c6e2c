#include "station/StationTexts.h"

#include <array>

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

constexpr std::array kOutcomes = {
    OutcomeText{"completed", TileState::Complete, kComplete, ""},
    OutcomeText{"timed-out", TileState::Failed, kCommError, kCheckDownloadMode},
    OutcomeText{"timed-out-after-ack", TileState::Failed, kCommError, kCheckCable},
    OutcomeText{"refused", TileState::Failed, kFail, kRunAgain},
    // Every frame acknowledged, the closing bytes held back: not loaded.
    OutcomeText{"end-held", TileState::Failed, kFail, kRunAgain},
    OutcomeText{"stopped", TileState::Idle, "중지됨", ""},
    OutcomeText{"port-open-failed", TileState::Failed, "Port open fail", kCheckComPort},
    OutcomeText{"thread-failed", TileState::Failed, kFail, kRunAgain},
    OutcomeText{"nothing-to-send", TileState::Failed, kFail, ""},
    OutcomeText{"file-error", TileState::Failed, kFail, ""},
};

constexpr OutcomeText kUnknownOutcome{"", TileState::Failed, kFail, kRunAgain};

}  // namespace

const OutcomeText& TextOfOutcome(std::string_view outcome)
{
    for (const OutcomeText& row : kOutcomes) {
        if (row.outcome == outcome)
            return row;
    }
    return kUnknownOutcome;
}

}  // namespace veltrad
