// The writer of record lines on Windows: names that open a device are
// refused before any open, a file another program holds without sharing
// its writing is said to be in use, and programs appending at once keep
// every line. Run with "--append FILE N" the program is one of those.

#include "multiport/RecordFile.h"

#include "common/Appenders.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include "platform/Windows_win32.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr char kHeader[] = "# h\n";

TEST(RecordFileWin32, ADevicesNameIsRefusedUnopenedAndOtherNamesAreFiles)
{
    TempDir dir;
    const struct {
        std::wstring name;
        RecordFault fault;
    } cases[] = {
        {L"COM3", RecordFault::DeviceName},
        {L"com3.log", RecordFault::DeviceName},
        {L"COM3.tsv", RecordFault::DeviceName},
        {L"NUL", RecordFault::DeviceName},
        {L"con .txt", RecordFault::DeviceName},
        {L"LPT1:", RecordFault::DeviceName},
        {L"COM\u00B9.tsv", RecordFault::DeviceName},
        {L"COM10.tsv", RecordFault::None},
        {L"COM.tsv", RecordFault::None},
        {L"CONSOLE.tsv", RecordFault::None},
    };
    for (const auto& c : cases) {
        const fs::path path = dir.Path() / c.name;
        SCOPED_TRACE(path.string());
        RecordError error;
        const bool written = AppendRecords(path, kHeader, "L\n", LinkRule::FollowOwn, error).has_value();
        EXPECT_EQ(written, c.fault == RecordFault::None) << error.Message();
        EXPECT_EQ(error.fault, c.fault);
    }
    RecordError error;
    EXPECT_FALSE(AppendRecords(L"\\\\.\\COM3", kHeader, "L\n", LinkRule::FollowOwn, error));
    EXPECT_EQ(error.fault, RecordFault::DeviceName);
    EXPECT_FALSE(AppendRecords(dir.Path(), kHeader, "L\n", LinkRule::FollowOwn, error));
    EXPECT_EQ(error.fault, RecordFault::NotAFile);
}

// As a spreadsheet holds the day's records: reading shared, writing not.
TEST(RecordFileWin32, AFileHeldWithoutWriteSharingIsInUseUntilLetGo)
{
    TempDir dir;
    const fs::path path = dir.WriteText("records.tsv", kHeader);
    const HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RecordError error;
    EXPECT_FALSE(AppendRecords(path, kHeader, "L\n", LinkRule::Refuse, error));
    EXPECT_EQ(error.fault, RecordFault::InUse);
    EXPECT_NE(error.Message().find("in use by another program"), std::string::npos) << error.Message();
    ::CloseHandle(held);
    EXPECT_TRUE(AppendRecords(path, kHeader, "L\n", LinkRule::Refuse, error)) << error.Message();
    EXPECT_EQ(TempDir::ReadText(path), "# h\nL\n");
}

TEST(RecordFileWin32, ProgramsAppendingAtOnceKeepEveryLine)
{
    TempDir dir;
    const fs::path path = dir / "runs.tsv";
    wchar_t self[MAX_PATH];
    ASSERT_NE(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::vector<PROCESS_INFORMATION> programs;
    for (int p = 0; p < test::kAppendingPrograms; ++p) {
        std::wstring command =
            L"\"" + std::wstring(self) + L"\" --append \"" + path.wstring() + L"\" " + std::to_wstring(p);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(
            ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        programs.push_back(info);
    }
    for (const PROCESS_INFORMATION& info : programs) {
        ::WaitForSingleObject(info.hProcess, INFINITE);
        DWORD code = 1;
        ::GetExitCodeProcess(info.hProcess, &code);
        EXPECT_EQ(code, 0u);
        ::CloseHandle(info.hProcess);
        ::CloseHandle(info.hThread);
    }
    test::ExpectEveryLineWholeUnderOneHeader(path);
}

}  // namespace
}  // namespace veltrad

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--append") == 0)
        return veltrad::test::AppendAsOneProgram(std::filesystem::path(argv[2]), std::atoi(argv[3]));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
