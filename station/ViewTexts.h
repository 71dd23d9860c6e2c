#pragma once
// The lines both stations compose of the logic's views and StationTexts, so
// the Qt and the Win32 station say them alike.

#include "station/StationView.h"

#include <string>

namespace veltrad {

// "image.bin  (6400 Byte, 50 프레임)"; the name alone when the file was not
// read; empty without an image.
std::string JobImageText(const JobView& job);
// "SHA-256 0123456789abcdef…" (the label's 16 digits); empty without an image.
std::string JobShaText(const JobView& job);
// "main board - Veltrad Station", or the title alone for a job without a name.
std::string StationTitle(const JobView& job);
// "스테이션  완료 6   실패 2"
std::string StationCountersText(const StationCounters& counters);
// "기록 대기 3 (다른 프로그램이 사용 중)" while records wait to be written, beside
// 기록 폴더 열기; else empty.
std::string RecordsWaitingText(const StationCounters& counters);

// "COM33  /dev/ttyUSB3": the port and, when it says more, the device it opens.
std::string TileNameText(const TileView& tile);
// "일련번호: A123", or that one is awaited, or empty.
std::string TileSerialText(const TileView& tile);
// "완료 3   실패 1"
std::string TileCountersText(const TileView& tile);

}  // namespace veltrad
