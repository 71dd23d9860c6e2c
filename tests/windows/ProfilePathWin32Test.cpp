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
        fs::create_directory(m_store);
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
    fs::path m_store = m_dir / "VirtualStore";
    fs::path m_legacy = m_windows / kProfileFileName;
    fs::path m_stored = m_store / kProfileFileName;
    std::vector<fs::path> m_older{m_windows, m_store};
};

TEST_F(ProfilePathWin32, TheRoamingFolderWinsAndOnlyAnOldFileIsCopied)
{
    const std::string kStoredText = "[ComPort]\r\nPort Num=3\r\n";
    const struct {
        const char* what;
        bool ownFile, legacyFile, legacyFolder, storedFile;
        std::string expected;  // the settings file's text afterwards; "-" for none
    } cases[] = {
        {"nothing anywhere: nothing is created", false, false, false, false, "-"},
        {"a file of its own wins", true, true, false, true, "own"},
        {"a folder named like the old file is not copied", false, false, true, false, "-"},
        {"first start: the old file is copied", false, true, false, false, kLegacyText},
        {"the Windows folder's file before the virtualized one", false, true, false, true, kLegacyText},
        {"a folder in the Windows folder: the virtualized file", false, false, true, true, kStoredText},
        {"only a virtualized file: it is copied", false, false, false, true, kStoredText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const fs::path& p : {m_file, m_legacy, m_stored})
            fs::remove_all(p);
        if (c.ownFile)
            WriteAll(m_file, "own");
        if (c.legacyFile)
            WriteAll(m_legacy, kLegacyText);
        if (c.legacyFolder)
            fs::create_directory(m_legacy);
        if (c.storedFile)
            WriteAll(m_stored, kStoredText);
        EXPECT_EQ(ProfilePathIn(m_roaming, m_older), m_file);
        EXPECT_EQ(fs::exists(m_file) ? ReadAll(m_file) : "-", c.expected);
        EXPECT_EQ(RoamingFiles().size(), c.expected == "-" ? 0u : 1u) << "a sibling was left behind";
    }

    // After the copy, writes go to the copy only, and the old file is not
    // copied again.
    EXPECT_TRUE(CProfile(m_file).WriteProfileInt("ComPort", "Port Num", 4));
    EXPECT_EQ(ReadAll(m_stored), kStoredText);
    EXPECT_EQ(ProfilePathIn(m_roaming, m_older), m_file);
    EXPECT_EQ(CProfile(m_file).GetProfileInt("ComPort", "Port Num", 0), 4);
}

TEST_F(ProfilePathWin32, WhenTheCopyCannotBeMadeOrTheRoamingFolderIsUnknownTheOldFileIsRead)
{
    WriteAll(m_legacy, kLegacyText);
    // Another program holds the old file without sharing it: no copy can be read.
    const HANDLE held = ::CreateFileW(m_legacy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const fs::path path = ProfilePathIn(m_roaming, m_older);
    ::CloseHandle(held);
    EXPECT_EQ(path, m_legacy);
    EXPECT_TRUE(RoamingFiles().empty());
    EXPECT_EQ(CProfile(path).GetProfileInt("ComPort", "Port Num", 0), 9);

    EXPECT_EQ(ProfilePathIn({}, m_older), m_legacy);
    fs::remove(m_legacy);
    EXPECT_EQ(ProfilePathIn({}, m_older), m_legacy);
    WriteAll(m_stored, kLegacyText);
    EXPECT_EQ(ProfilePathIn({}, m_older), m_stored);
    EXPECT_EQ(ProfilePathIn({}, {}), fs::path(kProfileFileName));
}

TEST(ProfilePathWin32System, TheVirtualStoreMirrorsTheWindowsFolderWithoutItsDrive)
{
    EXPECT_EQ(VirtualStoreOf(L"C:\\Users\\kim\\AppData\\Local", L"C:\\Windows"),
              fs::path(L"C:\\Users\\kim\\AppData\\Local\\VirtualStore\\Windows"));
    EXPECT_EQ(VirtualStoreOf({}, L"C:\\Windows"), fs::path());
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
