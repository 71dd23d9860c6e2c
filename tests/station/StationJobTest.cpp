// The job file: what it accepts, what it refuses with the line at fault, and
// its paths, relative to its own folder. The bytes a reader takes are
// IniTextTest's; here what a job makes of them.

#include "station/StationJob.h"

#include "common/TempDir.h"
#include "common/Utf16Bytes.h"

#include <gtest/gtest.h>

namespace veltrad::test {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

const std::string kSha(64, 'a');
const std::string kShaUpper(64, 'A');

TEST(StationJob, NotepadsEncodingsAnyCaseAndPathsOfTheJobsFolderRead)
{
    TempDir dir;
    fs::create_directory(dir / "jobs");
    const fs::path folder = dir / "jobs";
    const struct {
        std::string bytes;
        StationJob expected;
    } cases[] = {
        {"\xEF\xBB\xBF[job]\r\nname=Main\r\nIMAGE=app.bin\r\nSha-256=" + kShaUpper + "\r\nrecords=../records\r\n",
         {"Main", folder / "app.bin", kSha, {}, false, true, dir / "records"}},
        {Utf16Le("[Job]\r\nImage=/srv/a.bin\r\nSHA-256=" + kSha +
                 "\r\n[TILE1] ; the left bench\r\nport=COM3\r\n"
                 "LOCATION=/dev/serial/by-path/x\r\n[Tile2]\r\nPort=/dev/ttyACM0\r\n"),
         {"", "/srv/a.bin", kSha, {{"COM3", "/dev/serial/by-path/x"}, {"/dev/ttyACM0", ""}}, false, true, {}}},
        {"[Job]\nImage=\nSHA-256=\nSerial numbers=1\nSounds=0\nRecords=\n", {"", {}, "", {}, true, false, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        JobFileError error;
        const auto job = ReadJobFile(dir.WriteText("jobs/line.job", c.bytes), CPortMap(), error);
        ASSERT_TRUE(job.has_value()) << static_cast<int>(error.problem) << " line " << error.line;
        EXPECT_EQ(*job, c.expected);
    }
}

TEST(StationJob, WhatItDoesNotUnderstandIsRefusedWithTheLineAtFault)
{
    const std::string job = "[Job]\nImage=/a.bin\nSHA-256=" + kSha + "\n";
    const struct {
        std::string bytes;
        JobProblem problem;
        std::size_t line;
        std::string name, other;
        std::size_t firstLine;
    } cases[] = {
        {"[Ports]\nCOM1=/dev/ttyS0\n", JobProblem::UnknownSection, 1, "Ports", "", 0},
        {"[Tile1]\nPort=COM1\n", JobProblem::NoJobSection, 0, "", "", 0},
        {"[Job]\nName=x\nColour=red\n", JobProblem::UnknownKey, 3, "Colour", "Job", 0},
        {"[Job]\n[Tile1]\nSpeed=9600\n", JobProblem::UnknownKey, 3, "Speed", "Tile1", 0},
        {"[Job]\nImage=/a.bin\nSHA-256=ABC\n", JobProblem::BadSha256, 3, "SHA-256", "", 0},
        {"[Job]\nSHA-256=" + kSha.substr(1) + "g\n", JobProblem::BadSha256, 2, "SHA-256", "", 0},
        {"[Job]\nImage=/a.bin\n", JobProblem::ImageWithoutSha256, 0, "", "", 0},
        {"[Job]\n[Tile2]\nPort=COM1\n", JobProblem::TileWithoutPort, 0, "Tile1", "", 0},
        {"[Job]\n[Tile1]\nPort=\n", JobProblem::TileWithoutPort, 2, "Tile1", "", 0},
        {"[Job]\n[Tile17]\nPort=COM1\n", JobProblem::UnknownSection, 2, "Tile17", "", 0},
        {"[Job]\n[Tile01]\nPort=COM1\n", JobProblem::UnknownSection, 2, "Tile01", "", 0},
        {"[Job]\n[Tile0]\n", JobProblem::UnknownSection, 2, "Tile0", "", 0},
        {"[Job]\nSounds=yes\n", JobProblem::BadFlag, 2, "Sounds", "", 0},
        {"[Job\n", JobProblem::SectionUnclosed, 1, "Job", "", 0},
        {"[Job] x\n", JobProblem::TextAfterSection, 1, "Job", "", 0},
        {"Name=x\n[Job]\n", JobProblem::KeyOutsideSection, 1, "Name", "", 0},
        {"[Job]\nName\n", JobProblem::NotKeyValue, 2, "", "", 0},
        // Said twice: last-wins would load what the engineer did not see.
        {job + "sha-256=" + kSha + "\n", JobProblem::KeyTwice, 4, "sha-256", "Job", 3},
        {"[Job]\n[Tile1]\nPort=COM1\n[tile1]\nPort=COM2\n", JobProblem::SectionTwice, 4, "tile1", "", 2},
        {"[Job]\n\n[job]\n", JobProblem::SectionTwice, 3, "job", "", 1},
        {"[Job]\n[Tile1]\nPort=COM1\nPORT=COM2\n", JobProblem::KeyTwice, 4, "PORT", "Tile1", 3},
        // No port, or one port twice.
        {"[Job]\n[Tile1]\nPort=COM51\n", JobProblem::NoSuchPort, 3, "COM51", "", 0},
        {"[Job]\n[Tile1]\nPort=COM0\n", JobProblem::NoSuchPort, 3, "COM0", "", 0},
        {"[Job]\n[Tile1]\nPort=COM65537\n", JobProblem::NoSuchPort, 3, "COM65537", "", 0},
        {"[Job]\n[Tile1]\nPort=COM41\n[Tile2]\nPort=COM41\n", JobProblem::PortTwice, 5, "COM41", "COM41", 3},
        {"[Job]\n[Tile1]\nPort=COM41\n[Tile2]\nPort=com041\n", JobProblem::PortTwice, 5, "com041", "COM41", 3},
        {"[Job]\n[Tile1]\nPort=/dev/veltrad-41\n[Tile2]\nPort=COM41\n", JobProblem::PortTwice, 5, "COM41",
         "/dev/veltrad-41", 3},
        {"[Job]\n[Tile1]\nPort=COM1\nLocation=/by-path/a\n[Tile2]\nPort=COM2\nLocation=/by-path/a\n",
         JobProblem::PortTwice, 7, "/by-path/a", "/by-path/a", 4},
        // The file as a whole, or a line that is no text.
        {"[Job]\n\x01\x02\0\x03"s, JobProblem::NotText, 2, "", "", 0},
        {"[Job]\nName=\xC3\n", JobProblem::BadEncoding, 2, "", "", 0},
        {std::string(64 * 1024 + 1, '\n'), JobProblem::TooLarge, 0, "", "", 0},
    };
    TempDir dir;
    CPortMap ports;
    ports.Override(41, "/dev/veltrad-41");
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes.substr(0, 80)));
        JobFileError error;
        const fs::path file = dir.WriteText("bad.job", c.bytes);
        EXPECT_FALSE(ReadJobFile(file, ports, error).has_value());
        EXPECT_EQ(error.file, file);
        EXPECT_EQ(error.problem, c.problem);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.name, c.name);
        EXPECT_EQ(error.other, c.other);
        EXPECT_EQ(error.firstLine, c.firstLine);
    }
    JobFileError error;
    EXPECT_FALSE(ReadJobFile(dir / "missing.job", ports, error).has_value());
    EXPECT_EQ(error.problem, JobProblem::Unreadable);
    EXPECT_EQ(error.systemError, ENOENT);
}

// A job folder copied to another PC opens there with its own image; a job
// that names an image elsewhere keeps naming it.
TEST(StationJob, PathsInTheJobsFolderAreSavedRelativeToIt)
{
    TempDir dir;
    fs::create_directories(dir / "line3" / "images");
    const struct {
        fs::path image, records;
        const char* imageLine;
        const char* recordsLine;
    } cases[] = {
        {dir / "line3" / "images" / "app.bin", dir / "line3", "Image=images/app.bin\n", "Records=.\n"},
        {dir / "elsewhere.bin", {}, nullptr, "Records=\n"},
        {"/srv/images/app.bin", dir / "line3" / "records", "Image=/srv/images/app.bin\n", "Records=records\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image.string());
        const StationJob job{"Main", c.image, kSha, {{"COM3", ""}}, false, true, c.records};
        JobFileError error;
        const fs::path file = dir / "line3" / "line.job";
        ASSERT_TRUE(WriteJobFile(file, job, error)) << error.systemError;
        const std::string text = TempDir::ReadText(file);
        const std::string imageLine = c.imageLine ? c.imageLine : "Image=" + c.image.string() + "\n";
        EXPECT_NE(text.find(imageLine), std::string::npos) << text;
        EXPECT_NE(text.find(c.recordsLine), std::string::npos) << text;
        EXPECT_EQ(ReadJobFile(file, CPortMap(), error), job);

        fs::remove_all(dir / "copy");
        fs::copy(dir / "line3", dir / "copy", fs::copy_options::recursive);
        const auto copied = ReadJobFile(dir / "copy" / "line.job", CPortMap(), error);
        ASSERT_TRUE(copied.has_value());
        const bool inside = c.imageLine && c.image.string().starts_with(dir.Path().string());
        EXPECT_EQ(copied->image, inside ? dir / "copy" / "images" / "app.bin" : c.image);
    }
    JobFileError error;
    EXPECT_FALSE(WriteJobFile(dir / "no-such-folder" / "line.job", StationJob{}, error));
    EXPECT_EQ(error.problem, JobProblem::Unwritable);
    EXPECT_EQ(error.systemError, ENOENT);
}

}  // namespace
}  // namespace veltrad::test
