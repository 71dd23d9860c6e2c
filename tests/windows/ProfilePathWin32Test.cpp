// Where the settings file lives on Windows, in the real folders of the
// system the test runs on (a throw-away Wine prefix in CI). Any Veltrad.INI
// already there is put aside for the test and restored afterwards.

#include "settings/Profile.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
// winbase.h maps these names to its own ANSI profile functions.
#undef GetProfileInt
#undef WriteProfileInt
#undef GetProfileString
#undef WriteProfileString

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace veltrad {
namespace {

namespace fs = std::filesystem;

fs::path KnownRoaming()
{
    PWSTR folder = nullptr;
    fs::path result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder)))
        result = folder;
    ::CoTaskMemFree(folder);
    return result;
}

fs::path KnownWindows()
{
    wchar_t buffer[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? fs::path() : fs::path(buffer);
}

std::string ReadAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

// Moves a file or folder out of the way and puts it back at the end.
class CAside {
public:
    explicit CAside(fs::path path) : m_path(std::move(path)), m_aside(m_path)
    {
        m_aside += L".veltrad-test-aside";
        std::error_code ec;
        if (fs::exists(m_path, ec)) {
            fs::remove_all(m_aside, ec);
            fs::rename(m_path, m_aside, ec);
            m_moved = !ec;
        }
    }
    ~CAside()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
        if (m_moved)
            fs::rename(m_aside, m_path, ec);
    }
    CAside(const CAside&) = delete;
    CAside& operator=(const CAside&) = delete;

private:
    fs::path m_path;
    fs::path m_aside;
    bool m_moved = false;
};

const std::string kLegacyText = "[Font]\r\nAddress=300000\r\n[ComPort]\r\nPort Num=9\r\n";

class ProfilePathWin32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_roaming = KnownRoaming();
        m_windows = KnownWindows();
        ASSERT_FALSE(m_roaming.empty());
        ASSERT_FALSE(m_windows.empty());
        m_file = m_roaming / kProfileFileName;
        m_legacy = m_windows / kProfileFileName;
        m_asideFile.emplace(m_file);
        m_asideLegacy.emplace(m_legacy);
    }

    // Files in the roaming folder named like a sibling of the settings file.
    int SiblingsLeft() const
    {
        const std::wstring prefix = std::wstring(m_file.filename().wstring()) + L".";
        int n = 0;
        for (const auto& entry : fs::directory_iterator(m_roaming))
            n += entry.path().filename().wstring().starts_with(prefix) ? 1 : 0;
        return n;
    }

    fs::path m_roaming, m_windows, m_file, m_legacy;
    std::optional<CAside> m_asideFile, m_asideLegacy;
};

TEST_F(ProfilePathWin32, WithoutAnyFileTheRoamingFolderIsUsedAndNothingIsCreated)
{
    EXPECT_EQ(CProfile::DefaultPath(), m_file);
    EXPECT_FALSE(fs::exists(m_file));
    EXPECT_FALSE(fs::exists(m_legacy));
}

TEST_F(ProfilePathWin32, FirstStartCopiesTheFileLeftInTheWindowsFolder)
{
    WriteAll(m_legacy, kLegacyText);

    const fs::path path = CProfile::DefaultPath();
    EXPECT_EQ(path, m_file);
    EXPECT_EQ(ReadAll(m_file), kLegacyText);
    EXPECT_EQ(SiblingsLeft(), 0);

    // The operator's saved port comes along; new writes go to the copy only.
    CProfile profile(path);
    EXPECT_EQ(profile.GetProfileInt("ComPort", "Port Num", 0), 9);
    EXPECT_EQ(profile.GetProfileInt("Font", "Address", 0), 300000);
    EXPECT_TRUE(profile.WriteProfileInt("ComPort", "Port Num", 4));
    EXPECT_EQ(ReadAll(m_legacy), kLegacyText);

    // Later starts keep the copy; the old file is not copied again.
    EXPECT_EQ(CProfile::DefaultPath(), m_file);
    EXPECT_EQ(CProfile(m_file).GetProfileInt("ComPort", "Port Num", 0), 4);
}

TEST_F(ProfilePathWin32, AFileInTheRoamingFolderWins)
{
    WriteAll(m_legacy, kLegacyText);
    const std::string own = "[ComPort]\r\nPort Num=2\r\n";
    WriteAll(m_file, own);

    EXPECT_EQ(CProfile::DefaultPath(), m_file);
    EXPECT_EQ(ReadAll(m_file), own);
}

TEST_F(ProfilePathWin32, AFolderNamedLikeTheFileInTheWindowsFolderIsNotCopied)
{
    fs::create_directory(m_legacy);
    EXPECT_EQ(CProfile::DefaultPath(), m_file);
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(ProfilePathWin32, WhenTheCopyCannotBeMadeTheOldFileIsStillRead)
{
    WriteAll(m_legacy, kLegacyText);
    // Another program holds the old file without sharing it: no copy can be read.
    const HANDLE held = ::CreateFileW(m_legacy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const fs::path path = CProfile::DefaultPath();
    ::CloseHandle(held);

    EXPECT_EQ(path, m_legacy);
    EXPECT_FALSE(fs::exists(m_file));
    EXPECT_EQ(SiblingsLeft(), 0);
    EXPECT_EQ(CProfile(path).GetProfileInt("ComPort", "Port Num", 0), 9);
}

}  // namespace
}  // namespace veltrad
