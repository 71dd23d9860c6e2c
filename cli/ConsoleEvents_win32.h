#pragma once
// The console control handler that CStopSignals installs on Windows, named
// so that a test can call it as the console would.

#include <windows.h>

namespace veltrad::cli {

// Raises the stop flag. Ctrl-C and Ctrl-Break return at once; a close,
// logoff or shutdown returns only once the CStopSignals is gone (the program
// has said and logged everything), or just inside the 5 s that Windows gives.
BOOL WINAPI OnConsoleEvent(DWORD event);

}  // namespace veltrad::cli
