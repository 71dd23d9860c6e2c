// Where the settings file lives on Windows: the choice between the roaming
// folder and the older installations' Windows folder, made on folders of the
// test's own, and once on the system's real folders.

#include "settings/Profile.h"
#include "settings/ProfilePath_win32.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include "platform/Windows_win32.h"
#include <knownfolders.h>
#include <shlobj.h>
// winbase.h maps these names to its own ANSI profile functions.
#undef GetProfileInt
#undef WriteProfileInt

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

const std::string kLegacyText = "[Font]\r\nAddress=300000\r\n[ComPort]\r\nPort Num=9\r\n";

class ProfilePathWin32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directory(m_roaming);
        fs::create_directory(m_windows);
    }

    // Everything in the roaming folder, by name.
    std::vector<std::string> RoamingFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_roaming))
            names.push_back(entry.path().filename().string());
        return names;
    }

    test::TempDir m_dir;
    fs::path m_roaming = m_dir / "roaming";
    fs::path m_windows = m_dir / "windows";
    fs::path m_file = m_roaming / kProfileFileName;
    fs::path m_legacy = m_windows / kProfileFileName;
};

TEST_F(ProfilePathWin32, TheRoamingFolderWinsAndOnlyAnOldFileIsCopied)
{
    const struct {
        const char* what;
        bool ownFile, legacyFile, legacyFolder;
        std::string expected;  // the settings file's text afterwards; "-" for none
    } cases[] = {
        {"nothing anywhere: nothing is created", false, false, false, "-"},
        {"a file of its own wins", true, true, false, "own"},
        {"a folder named like the old file is not copied", false, false, true, "-"},
        {"first start: the old file is copied", false, true, false, kLegacyText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_file);
        fs::remove_all(m_legacy);
        if (c.ownFile)
            WriteAll(m_file, "own");
        if (c.legacyFile)
            WriteAll(m_legacy, kLegacyText);
        if (c.legacyFolder)
            fs::create_directory(m_legacy);
        EXPECT_EQ(ProfilePathIn(m_roaming, m_windows), m_file);
        EXPECT_EQ(fs::exists(m_file) ? ReadAll(m_file) : "-", c.expected);
        EXPECT_EQ(RoamingFiles().size(), c.expected == "-" ? 0u : 1u) << "a sibling was left behind";
    }

    // After the copy, writes go to the copy only, and the old file is not
    // copied again.
    EXPECT_TRUE(CProfile(m_file).WriteProfileInt("ComPort", "Port Num", 4));
    EXPECT_EQ(ReadAll(m_legacy), kLegacyText);
    EXPECT_EQ(ProfilePathIn(m_roaming, m_windows), m_file);
    EXPECT_EQ(CProfile(m_file).GetProfileInt("ComPort", "Port Num", 0), 4);
}

TEST_F(ProfilePathWin32, WhenTheCopyCannotBeMadeOrTheRoamingFolderIsUnknownTheOldFileIsRead)
{
    WriteAll(m_legacy, kLegacyText);
    // Another program holds the old file without sharing it: no copy can be read.
    const HANDLE held = ::CreateFileW(m_legacy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const fs::path path = ProfilePathIn(m_roaming, m_windows);
    ::CloseHandle(held);
    EXPECT_EQ(path, m_legacy);
    EXPECT_TRUE(RoamingFiles().empty());
    EXPECT_EQ(CProfile(path).GetProfileInt("ComPort", "Port Num", 0), 9);

    EXPECT_EQ(ProfilePathIn({}, m_windows), m_legacy);
    EXPECT_EQ(ProfilePathIn({}, {}), fs::path(kProfileFileName));
}

TEST(ProfilePathWin32System, TheUsersRoamingFolder)
{
    PWSTR folder = nullptr;
    ASSERT_TRUE(SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder)));
    const fs::path roaming(folder);
    ::CoTaskMemFree(folder);
    EXPECT_EQ(CProfile::DefaultPath(), roaming / kProfileFileName);
}

}  // namespace
}  // namespace veltrad
