// veltrad-cli's console control handler on Windows. Wine's console sends no
// close event, so the handler is called here as the console calls it, on a
// thread of its own.

#include "cli/ConsoleEvents_win32.h"
#include "cli/StopSignals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace veltrad::cli {
namespace {

using namespace std::chrono_literals;

TEST(Win32StopSignals, CtrlCAndCtrlBreakRaiseTheFlagAndReturnAtOnce)
{
    for (const DWORD event : {DWORD{CTRL_C_EVENT}, DWORD{CTRL_BREAK_EVENT}}) {
        CStopSignals signals;
        EXPECT_FALSE(signals.Raised());
        EXPECT_TRUE(OnConsoleEvent(event));
        EXPECT_TRUE(signals.Raised()) << "event " << event;
    }
}

// The process ends as soon as the handler returns: it must hold the close
// until the program has stopped its runs and said how they ended, which is
// when its CStopSignals goes.
TEST(Win32StopSignals, CloseLogoffAndShutdownWaitForTheProgramsEnd)
{
    for (const DWORD event : {DWORD{CTRL_CLOSE_EVENT}, DWORD{CTRL_LOGOFF_EVENT}, DWORD{CTRL_SHUTDOWN_EVENT}}) {
        auto signals = std::make_unique<CStopSignals>();
        std::promise<void> entered;
        auto returned = std::async(std::launch::async, [&] {
            entered.set_value();
            return OnConsoleEvent(event);
        });
        entered.get_future().wait();
        while (!signals->Raised())
            std::this_thread::yield();
        EXPECT_EQ(returned.wait_for(0ms), std::future_status::timeout) << "event " << event << " did not wait";
        signals.reset();  // everything said and logged
        EXPECT_TRUE(returned.get());
    }
}

}  // namespace
}  // namespace veltrad::cli
