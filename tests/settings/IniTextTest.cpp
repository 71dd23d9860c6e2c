// The INI reader under the settings and the job file: encodings, line
// endings, the text check, the size cap and what a line says. What each
// file makes of it is shown in ProfileTest and the station's job tests.

#include "settings/IniText.h"

#include "common/TempDir.h"
#include "common/Utf16Bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace veltrad {
namespace {

using namespace std::literals;
using test::TempDir;
using test::Utf16Le;

TEST(IniText, DecodesEachEncodingAndRefusesWhatIsNoText)
{
    const struct {
        std::string bytes;
        bool requireUtf8;
        IniProblem problem;
        std::size_t line;  // of the problem
        TextEncoding encoding;
        std::vector<std::string> lines;
    } cases[] = {
        {"[Job]\nName=a", true, IniProblem::None, 0, TextEncoding::Utf8, {"[Job]\n", "Name=a"}},
        {"[Job]\r\n\r\n", true, IniProblem::None, 0, TextEncoding::Utf8, {"[Job]\r\n", "\r\n"}},
        {"", true, IniProblem::None, 0, TextEncoding::Utf8, {}},
        {"\xEF\xBB\xBF[Job]\r\n", true, IniProblem::None, 0, TextEncoding::Utf8WithBom, {"[Job]\r\n"}},
        {Utf16Le("[Job]\r\nA=1\r\n"), true, IniProblem::None, 0, TextEncoding::Utf16Le, {"[Job]\r\n", "A=1\r\n"}},
        // Hangul and a code point beyond 16 bits (a surrogate pair) become UTF-8.
        {"\xFF\xFEN\0=\0\x70\xD5\x3D\xD8\x00\xDE"s,
         true,
         IniProblem::None,
         0,
         TextEncoding::Utf16Le,
         {"N=\xED\x95\xB0\xF0\x9F\x98\x80"}},
        {"\xFF\xFE"s, true, IniProblem::None, 0, TextEncoding::Utf16Le, {}},
        // UTF-16 cut short or with a lone surrogate, on the line it is on.
        {Utf16Le("A\r\nB") + "C", true, IniProblem::BadEncoding, 2, {}, {}},
        {Utf16Le("A\n") + "\x00\xD8"s, true, IniProblem::BadEncoding, 2, {}, {}},
        {Utf16Le("A") + "\x00\xD8"s + Utf16Le("B").substr(2), true, IniProblem::BadEncoding, 1, {}, {}},
        {Utf16Le("\n\n") + "\x00\xDC"s, false, IniProblem::BadEncoding, 3, {}, {}},
        // Control bytes: NUL (of UTF-16 without its mark, or big-endian), ESC, DEL, SUB, FF.
        {"A=1\n[Job]\n\0"s, false, IniProblem::NotText, 3, {}, {}},
        {Utf16Le("A=1\n").substr(2), false, IniProblem::NotText, 1, {}, {}},
        {"\xFE\xFF\0["s, false, IniProblem::NotText, 1, {}, {}},
        {Utf16Le("A\n\x01"), true, IniProblem::NotText, 2, {}, {}},
        {"A=\x1b[31m\n", false, IniProblem::NotText, 1, {}, {}},
        {"A=\x7f\n", false, IniProblem::NotText, 1, {}, {}},
        {"\n\x1a", false, IniProblem::NotText, 2, {}, {}},
        {"\x0c", false, IniProblem::NotText, 1, {}, {}},
        {"A=\t1\r\n", false, IniProblem::None, 0, TextEncoding::Utf8, {"A=\t1\r\n"}},
        // UTF-8 where it is asked for: overlong, a surrogate, past U+10FFFF, cut short, a lone byte.
        {"A=1\nN=\xC0\x80\n", true, IniProblem::BadEncoding, 2, {}, {}},
        {"N=\xED\xA0\x80", true, IniProblem::BadEncoding, 1, {}, {}},
        {"N=\xF4\x90\x80\x80", true, IniProblem::BadEncoding, 1, {}, {}},
        {"N=\xE2\x82", true, IniProblem::BadEncoding, 1, {}, {}},
        {"\xEF\xBB\xBFN=\xE9t\xE9", true, IniProblem::BadEncoding, 1, {}, {}},
        {"N=\xF4\x8F\xBF\xBF\xE2\x82\xAC",
         true,
         IniProblem::None,
         0,
         TextEncoding::Utf8,
         {"N=\xF4\x8F\xBF\xBF\xE2\x82\xAC"}},
        // Elsewhere (an ANSI settings file) the bytes are taken as they are.
        {"N=\xE9t\xE9\n", false, IniProblem::None, 0, TextEncoding::Utf8, {"N=\xE9t\xE9\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        IniText text;
        text.lines = {"left over"};
        const IniReadError error = DecodeIniText(c.bytes, c.requireUtf8, text);
        EXPECT_EQ(error.problem, c.problem);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(text.lines, c.lines);
        if (c.problem == IniProblem::None) {
            EXPECT_EQ(text.encoding, c.encoding);
            EXPECT_EQ(EncodeIniText(text), c.bytes) << "written back byte for byte";
        }
    }
}

TEST(IniText, EncodesIntoTheEncodingReadOrRefuses)
{
    IniText text{TextEncoding::Utf16Le, {"[ComPort]\r\n", "Port Num=\xED\x95\x9C\r\n"}};
    EXPECT_EQ(EncodeIniText(text), Utf16Le("[ComPort]\r\nPort Num=") + "\x5C\xD5" + Utf16Le("\r\n").substr(2));
    text.lines.push_back("N=\xE9\n");  // no UTF-8: no UTF-16 either
    EXPECT_EQ(EncodeIniText(text), std::nullopt);
    text.encoding = TextEncoding::Utf8;
    EXPECT_TRUE(EncodeIniText(text).has_value());
}

TEST(IniText, EachLineSaysOneThing)
{
    using Kind = IniLine::Kind;
    const struct {
        std::string_view line;
        Kind kind;
        std::string_view name, value, rest;
        std::size_t valueStart;
        bool closed;
    } cases[] = {
        {"", Kind::Blank, "", "", "", 0, true},
        {" \t\r\n", Kind::Blank, "", "", "", 0, true},
        {"  ; Port Num=3\n", Kind::Comment, "", "", "", 0, true},
        {"# x=1", Kind::Comment, "", "", "", 0, true},
        {"[Job]\r\n", Kind::Section, "Job", "", "", 0, true},
        {"  [ Tile 1 ]  ; note\n", Kind::Section, "Tile 1", "", "; note", 0, true},
        {"[Job", Kind::Section, "Job", "", "", 0, false},
        {"Port Num = 7 \r\n", Kind::Key, "Port Num", "7", "", 11, true},
        {"\tA\t=\t\"5\"\n", Kind::Key, "A", "\"5\"", "", 5, true},
        {"A=", Kind::Key, "A", "", "", 2, true},
        {"=x", Kind::Key, "", "x", "", 1, true},
        {"A=b=c", Kind::Key, "A", "b=c", "", 2, true},
        {"neither\n", Kind::Other, "", "", "", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.line)));
        const IniLine line = ParseIniLine(c.line);
        EXPECT_EQ(line.kind, c.kind);
        EXPECT_EQ(line.name, c.name);
        EXPECT_EQ(line.value, c.value);
        EXPECT_EQ(line.rest, c.rest);
        EXPECT_EQ(line.valueStart, c.valueStart);
        EXPECT_EQ(line.closed, c.closed);
    }
}

TEST(IniText, ReadsOnlyARegularFileUpToTheCap)
{
    TempDir dir;
    const IniLimits limits{8, true};
    std::filesystem::create_directory(dir / "folder");
    const struct {
        std::filesystem::path path;
        IniProblem problem;
        std::size_t lines;
    } cases[] = {
        {dir.WriteText("eight", "[J]\nA=1\n"), IniProblem::None, 2},
        {dir.WriteText("nine", "[J]\nA=12\n"), IniProblem::TooLarge, 0},
        {dir.WriteText("bad", "A=\xFF"), IniProblem::BadEncoding, 0},
        {dir / "missing", IniProblem::Missing, 0},
        {dir / "folder", IniProblem::NotText, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        IniText text;
        EXPECT_EQ(ReadIniFile(c.path, limits, text).problem, c.problem);
        EXPECT_EQ(text.lines.size(), c.lines);
    }
#ifndef _WIN32
    // A FIFO would block the open until someone writes to it.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    IniText text;
    EXPECT_EQ(ReadIniFile(dir / "fifo", limits, text).problem, IniProblem::NotText);
#endif
}

}  // namespace
}  // namespace veltrad
