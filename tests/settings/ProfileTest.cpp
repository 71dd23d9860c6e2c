#include "settings/NewFile.h"
#include "settings/Profile.h"

#include "common/TempDir.h"
#include "common/Utf16Bytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace veltrad {
namespace {

using test::TempDir;
using test::Utf16Le;

TEST(ProfileRead, ReadsAsThePlatformDoes)
{
    const struct {
        std::string file;
        int expected;  // "ComPort" / "Port Num", default 77
    } cases[] = {
        {"[ComPort]\nPort Num=12\n", 12},
        {Utf16Le("[ComPort]\r\nPort Num=12\r\n"), 12},  // Notepad's "Unicode"
        {"  [ ComPort ]  \n  Port Num  =  7  \n", 7},
        {"[ComPort]\n\tPort Num\t=\t7\n", 7},
        {"[comport]\nPORT NUM=3\n", 3},
        {"[ComPort]\nPort Num=-1\n", -1},
        {"[ComPort]\nPort Num=12abc ; note\n", 12},
        {"[ComPort]\nPort Num=abc\n", 0},
        {"[ComPort]\nPort Num=\n", 77},
        {"[ComPort]\nPort Num=\"5\"\n", 5},
        {"[ComPort]\nOther=1\n", 77},
        {"[Font]\nPort Num=4\n[ComPort]\n", 77},
        {"[ComPort]\n;Port Num=9\n", 77},
        {"[ComPort]\nPort Num=1\nPort Num=2\n", 1},
        {"[ComPort]\nA=1\n[Font]\n[ComPort]\nPort Num=4\n[ComPort]\nPort Num=5\n", 4},  // the section twice
        {"[ComPort]\nPort Num=33", 33},
        {"[ComPort]\nPort Num=4294967295\n", -1},  // wraps
        {"", 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.file));
        TempDir dir;
        CProfile profile(dir.WriteText("Veltrad.INI", c.file));
        EXPECT_EQ(profile.GetProfileInt("ComPort", "Port Num", 77), c.expected);
        EXPECT_EQ(profile.ReadProblem(), std::nullopt);
    }
    TempDir dir;
    CProfile strings(dir.WriteText("Veltrad.INI", "[Ports]\nCOM12 =  /dev/ttyACM0 \n"));
    EXPECT_EQ(strings.GetProfileString("Ports", "COM12"), "/dev/ttyACM0");
    EXPECT_FALSE(strings.GetProfileString("Ports", "COM1").has_value());
    CProfile missing(dir / "missing.INI");
    EXPECT_EQ(missing.GetProfileInt("Font", "Address", 274432), 274432);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.INI"));
}

// A rewrite changes the key's line only and keeps every other byte.
TEST(ProfileWrite, RewritesOnlyTheKey)
{
    const struct {
        std::string before;
        const char* section;
        const char* key;
        int value;
        std::string after;
    } cases[] = {
        {"; Veltrad settings\r\n[Font]\r\nAddress=274432\r\n\r\n[ComPort]\r\nPort Num = 3\r\n"
         "\r\n[Ports]\r\n; the bench's USB adapter\r\nCOM12=/dev/ttyUSB3\r\n",
         "ComPort", "Port Num", 11,
         "; Veltrad settings\r\n[Font]\r\nAddress=274432\r\n\r\n[ComPort]\r\nPort Num = 11\r\n"
         "\r\n[Ports]\r\n; the bench's USB adapter\r\nCOM12=/dev/ttyUSB3\r\n"},
        {"[ComPort]\nA=1\n\n[Font]\nAddress=5\n", "ComPort", "Port Num", 0,
         "[ComPort]\nA=1\nPort Num=0\n\n[Font]\nAddress=5\n"},
        {"[Font]\nAddress=5", "ComPort", "Port Num", -1, "[Font]\nAddress=5\n[ComPort]\nPort Num=-1\n"},
        {"[Font]\r\nAddress=5\r\n", "ComPort", "Port Num", 2, "[Font]\r\nAddress=5\r\n[ComPort]\r\nPort Num=2\r\n"},
        {"[ComPort]\nPort Num=1", "ComPort", "Port Num", 49, "[ComPort]\nPort Num=49\n"},
        {"", "Font", "Address", 274432, "[Font]\nAddress=274432\n"},
        {"\xEF\xBB\xBF[Font]\r\nAddress=5\r\n", "Font", "Address", 7, "\xEF\xBB\xBF[Font]\r\nAddress=7\r\n"},
        // UTF-16 stays UTF-16, a new key's line too.
        {Utf16Le("[ComPort]\r\nPort Num=3\r\n[Ports]\r\n"), "ComPort", "Port Num", 12,
         Utf16Le("[ComPort]\r\nPort Num=12\r\n[Ports]\r\n")},
        {Utf16Le("[ComPort]\r\nPort Num=3\r\n"), "Font", "Address", 5,
         Utf16Le("[ComPort]\r\nPort Num=3\r\n[Font]\r\nAddress=5\r\n")},
        // The number alone changes: quotes and what follows it stay.
        {"[Font]\nAddress=\"5\"\n", "Font", "Address", 7, "[Font]\nAddress=\"7\"\n"},
        {"[Font]\nAddress = 5 ; from the bench\n", "Font", "Address", -12, "[Font]\nAddress = -12 ; from the bench\n"},
        {"[Font]\nAddress=abc\n", "Font", "Address", 3, "[Font]\nAddress=3\n"},
        // A key in the second section of its name is rewritten there.
        {"[Font]\nX=1\n[ComPort]\n[Font]\nAddress=5", "Font", "Address", 6,
         "[Font]\nX=1\n[ComPort]\n[Font]\nAddress=6\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.before));
        TempDir dir;
        const auto path = dir.WriteText("Veltrad.INI", c.before);
        CProfile profile(path);
        ASSERT_TRUE(profile.WriteProfileInt(c.section, c.key, c.value));
        EXPECT_EQ(TempDir::ReadText(path), c.after);
        EXPECT_EQ(profile.GetProfileInt(c.section, c.key, -99), c.value);
    }
}

// The start-up writes back what it read: a value that reads the same is left
// as written, and the file is not rewritten at all.
TEST(ProfileWrite, AValueThatReadsTheSameLeavesTheFileUntouched)
{
    const char* files[] = {
        "[Font]\nAddress=274432\n",
        "[Font]\nAddress = \"274432\"\n",
        "[Font]\nAddress=274432 ; set by the bench\n",
        "[Font]\nAddress=+274432abc",
        "[Font]\nX=1\n\n[ComPort]\nPort Num=2\n\n[Font]\nAddress=274432\n",
    };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        TempDir dir;
        const auto path = dir.WriteText("Veltrad.INI", file);
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
        const auto old = std::filesystem::last_write_time(path);  // as the file system keeps it
        CProfile profile(path);
        ASSERT_EQ(profile.GetProfileInt("Font", "Address", 0), 274432);
        ASSERT_TRUE(profile.WriteProfileInt("Font", "Address", 274432));
        EXPECT_EQ(TempDir::ReadText(path), file);
        EXPECT_EQ(std::filesystem::last_write_time(path), old) << "rewritten";
    }
}

TEST(ProfileWrite, FirstWriteCreatesTheFileAndItsFolders)
{
    TempDir dir;
    const auto path = dir / "config" / "veltrad" / "Veltrad.INI";
    CProfile profile(path);
    ASSERT_TRUE(profile.WriteProfileInt("Font", "Address", 274432));
    EXPECT_EQ(TempDir::ReadText(path), "[Font]\nAddress=274432\n");
#ifndef _WIN32
    // For the owner alone, as the XDG base directory rules ask.
    for (const auto& folder : {dir / "config", dir / "config" / "veltrad"})
        EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all) << folder;
#endif
}

TEST(ProfileWrite, WritesThroughASymlinkToItsTarget)
{
    TempDir dir;
    const auto target = dir.WriteText("real.ini", "[ComPort]\nPort Num=1\n");
    const auto link = dir / "Veltrad.INI";
    std::error_code ec;
    std::filesystem::create_symlink(target, link, ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links here (Windows without the privilege, Wine)";
    CProfile profile(link);
    ASSERT_TRUE(profile.WriteProfileInt("ComPort", "Port Num", 8));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(TempDir::ReadText(target), "[ComPort]\nPort Num=8\n");
}

// A file that is there but cannot be read says why, reads as defaults and
// is never rewritten. Which bytes are no text is IniTextTest's.
TEST(ProfileWrite, AnUnreadableFileSaysWhyReadsDefaultsAndIsNeverRewritten)
{
    const struct {
        std::string tail;
        IniProblem problem;
    } cases[] = {
        {std::string("\0\x01\xff garbage", 11), IniProblem::NotText},
        {std::string(1024 * 1024, 'x'), IniProblem::TooLarge},
        {"", IniProblem::BadEncoding},  // the UTF-16 below cut short
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.tail.substr(0, 16)));
        TempDir dir;
        const std::string ini = "[ComPort]\nPort Num=5\n";
        const std::string bytes = c.problem == IniProblem::BadEncoding ? Utf16Le(ini) + "x" : ini + c.tail;
        const auto path = dir.WriteText("Veltrad.INI", bytes);
        CProfile profile(path);
        ASSERT_TRUE(profile.ReadProblem().has_value());
        EXPECT_EQ(profile.ReadProblem()->problem, c.problem);
        EXPECT_EQ(profile.GetProfileInt("ComPort", "Port Num", 0), 0);
        EXPECT_FALSE(profile.WriteProfileInt("ComPort", "Port Num", 9));
        EXPECT_EQ(TempDir::ReadText(path), bytes);
    }
    TempDir dir;
    EXPECT_EQ(CProfile(dir / "missing.INI").ReadProblem(), std::nullopt) << "missing reads as all defaults";
}

// Whether symbolic links can be made here (not on Windows without the privilege).
bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    std::error_code ec;
    std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

TEST(NewFile, IsCreatedOnlyWhereNothingIsYet)
{
    TempDir dir;
    const auto victim = dir.WriteText("victim.txt", "precious");
    std::vector<std::filesystem::path> taken = {dir.WriteText("existing.tmp", "kept")};
    // A link to a file, and one to nothing, which a plain create would make.
    if (MakeSymlink(victim, dir / "link.tmp") && MakeSymlink(dir / "created-through-link", dir / "dangling.tmp")) {
        taken.push_back(dir / "link.tmp");
        taken.push_back(dir / "dangling.tmp");
    }

    std::error_code ec;
    EXPECT_TRUE(WriteNewFile(dir / "new.tmp", "data", ec)) << ec.message();
    EXPECT_EQ(TempDir::ReadText(dir / "new.tmp"), "data");
    for (const auto& path : taken) {
        SCOPED_TRACE(path.string());
        EXPECT_FALSE(WriteNewFile(path, "data", ec));
        EXPECT_EQ(ec, std::errc::file_exists);
    }
    EXPECT_EQ(TempDir::ReadText(dir / "existing.tmp"), "kept");
    EXPECT_EQ(TempDir::ReadText(victim), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir / "created-through-link"));
}

std::set<std::string> Names(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(ProfileWrite, APlantedTemporaryLinkIsNeverWrittenThrough)
{
    TempDir dir;
    const auto path = dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=1\n");
    const auto victim = dir.WriteText("victim.txt", "precious");
    if (!MakeSymlink(victim, dir / "Veltrad.INI.tmp"))
        GTEST_SKIP() << "no symbolic links here";

    CProfile profile(path);
    ASSERT_TRUE(profile.WriteProfileInt("ComPort", "Port Num", 8));
    EXPECT_EQ(TempDir::ReadText(victim), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(TempDir::ReadText(path), "[ComPort]\nPort Num=8\n");
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"Veltrad.INI", "Veltrad.INI.tmp", "victim.txt"}))
        << "no temporary file left";
}

#ifndef _WIN32
TEST(ProfileWrite, AFailedRewriteLeavesTheFileAndNoTemporaryOne)
{
    TempDir dir;
    const std::string before = "[ComPort]\nPort Num=1\n";
    const auto path = dir.WriteText("Veltrad.INI", before);
    CProfile profile(path);
    // A file size limit below the new text makes its write fail part-way.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 8;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = profile.WriteProfileString("ComPort", "Port Num", "12345678901234567890");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(TempDir::ReadText(path), before);
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"Veltrad.INI"});
}
#endif

// A read-only file, a file in a read-only folder, a folder in the file's
// place: the write fails and what was there stays.
TEST(ProfileWrite, AnUnwritablePlaceChangesNothing)
{
    TempDir dir;
    const auto file = dir.WriteText("Veltrad.INI", "[ComPort]\nPort Num=5\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    std::filesystem::create_directories(dir / "folder.INI");
    std::vector<std::filesystem::path> places = {file, dir / "folder.INI"};
#ifndef _WIN32  // a folder's read-only attribute does not stop file creation on Windows
    std::filesystem::create_directories(dir / "locked");
    std::filesystem::permissions(dir / "locked",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    places.push_back(dir / "locked" / "Veltrad.INI");
#endif
    for (const auto& place : places) {
        SCOPED_TRACE(place.string());
        CProfile profile(place);
        EXPECT_FALSE(profile.WriteProfileInt("ComPort", "Port Num", 9));
        EXPECT_EQ(profile.GetProfileInt("ComPort", "Port Num", 4), place == file ? 5 : 4);
    }
    EXPECT_EQ(TempDir::ReadText(file), "[ComPort]\nPort Num=5\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.INI"));
    EXPECT_FALSE(std::filesystem::exists(dir / "locked" / "Veltrad.INI"));
}

// The Linux location of the file; the Windows one is tested under Wine
// (tests/windows).
#ifndef _WIN32
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(ProfilePath, FollowsXdgConfigHomeAndNeverTheWorkingDirectory)
{
    const struct {
        const char* home;
        const char* xdgConfigHome;
        const char* expected;  // empty: no settings file
    } cases[] = {
        {"/home/tech", "/srv/cfg", "/srv/cfg/Veltrad.INI"},
        {"/home/tech", "relative/dir", "/home/tech/.config/Veltrad.INI"},  // not absolute: ignored
        {"/home/tech", nullptr, "/home/tech/.config/Veltrad.INI"},
        {nullptr, "/srv/cfg", "/srv/cfg/Veltrad.INI"},
        {nullptr, nullptr, ""},
        {nullptr, "relative/dir", ""},
        {"relative/home", nullptr, ""},
    };
    for (const auto& c : cases) {
        ScopedEnv home("HOME", c.home);
        ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
        EXPECT_EQ(CProfile::DefaultPath(), std::filesystem::path(c.expected))
            << (c.home ? c.home : "no HOME") << ", " << (c.xdgConfigHome ? c.xdgConfigHome : "no XDG_CONFIG_HOME");
    }
}

// No settings file: defaults, and nothing written anywhere.
TEST(ProfilePath, WithoutAFileReadsDefaultsAndWritesNothing)
{
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    CProfile profile{std::filesystem::path()};
    const int port = profile.GetProfileInt("ComPort", "Port Num", 7);
    const bool written = profile.WriteProfileInt("ComPort", "Port Num", 3);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(port, 7);
    EXPECT_FALSE(written);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}
#endif

}  // namespace
}  // namespace veltrad
