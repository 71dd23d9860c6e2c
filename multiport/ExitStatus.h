#pragma once
// The exit status that each way of ending a download has in veltrad-cli; a
// port's result carries it, so the same numbers reach every front end.

namespace veltrad {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;           // bad arguments, unreadable file, or a result not written
inline constexpr int kExitPortFailed = 2;      // the port cannot be opened
inline constexpr int kExitSilent = 3;          // terminal silent before any acknowledgement
inline constexpr int kExitSilentAfterAck = 4;  // terminal silent after some
inline constexpr int kExitRefused = 5;         // a frame refused five times
inline constexpr int kExitNothingToSend = 6;   // the image holds no non-zero byte
inline constexpr int kExitEndHeld = 7;         // every frame acknowledged, the closing bytes held by XOFF
inline constexpr int kExitStopped = 130;       // stopped by Ctrl-C, a termination signal or a hang-up

}  // namespace veltrad
