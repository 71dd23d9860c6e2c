// The writer of record lines on real files: what may stand at the path, a
// line whole or not at all when the file cannot grow, programs appending at
// once, and the lines kept while their file cannot be written.

#include "multiport/RecordFile.h"
#include "multiport/RecordWriter.h"

#include "common/Appenders.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veltrad {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr char kHeader[] = "# h\n";

TEST(RecordFile, OnlyARegularFileOrANewOneTakesRecordsAndALinkOnlyByTheRule)
{
    TempDir dir;
    const fs::path torn = dir.WriteText("torn.tsv", "# h\nno line break");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink(torn, dir / "own-link");
    fs::create_symlink("own-link", dir / "link-to-link");
    fs::create_symlink(dir / "fifo", dir / "link-to-fifo");
    struct Case {
        fs::path path;
        LinkRule links;
        RecordFault fault;     // None: written
        fs::path file;         // then: the file that took the line
        const char* contents;  // and all it holds
        bool fresh;
    };
    std::vector<Case> cases = {
        {dir / "new.tsv", LinkRule::Refuse, RecordFault::None, dir / "new.tsv", "# h\nL\n", true},
        {torn, LinkRule::Refuse, RecordFault::None, torn, "# h\nno line break\nL\n", false},
        {dir / "own-link", LinkRule::Refuse, RecordFault::Link, {}, nullptr, false},
        {dir / "own-link", LinkRule::FollowOwn, RecordFault::None, torn, "# h\nno line break\nL\nL\n", false},
        {dir / "link-to-link", LinkRule::FollowOwn, RecordFault::Link, {}, nullptr, false},
        {dir / "link-to-fifo", LinkRule::FollowOwn, RecordFault::NotAFile, {}, nullptr, false},
        {dir / "fifo", LinkRule::FollowOwn, RecordFault::NotAFile, {}, nullptr, false},  // no reader: an open would
                                                                                         // block
        {"/dev/null", LinkRule::Refuse, RecordFault::NotAFile, {}, nullptr, false},
        {dir / "folder", LinkRule::Refuse, RecordFault::NotAFile, {}, nullptr, false},
        {dir / "missing" / "new.tsv", LinkRule::Refuse, RecordFault::NoFolder, {}, nullptr, false},
    };
    if (::geteuid() == 0) {
        // Only root can give a link away; anyone's link planted in a shared folder.
        fs::create_symlink(torn, dir / "their-link");
        ASSERT_EQ(::lchown((dir / "their-link").c_str(), 65534, 65534), 0);
        cases.push_back({dir / "their-link", LinkRule::FollowOwn, RecordFault::Link, {}, nullptr, false});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        RecordError error;
        const auto written = AppendRecords(c.path, kHeader, "L\n", c.links, error);
        ASSERT_EQ(written.has_value(), c.fault == RecordFault::None) << error.Message();
        if (written) {
            EXPECT_EQ(TempDir::ReadText(c.file), c.contents);
            EXPECT_EQ(written->fresh, c.fresh);
        } else {
            EXPECT_EQ(error.fault, c.fault) << error.Message();
            EXPECT_EQ(error.path, c.path);
        }
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

// A file size limit cuts a write short exactly as a full disk does.
TEST(RecordFile, ALineThatDoesNotFitIsCutBackAndTheNextStartsOnItsOwnLine)
{
    TempDir dir;
    const fs::path path = dir / "full.tsv";
    RecordError error;
    ASSERT_TRUE(AppendRecords(path, kHeader, "first\n", LinkRule::Refuse, error)) << error.Message();
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit small{16, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool fitted = AppendRecords(path, kHeader, std::string(40, 'x') + "\n", LinkRule::Refuse, error).has_value();
    ::setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(fitted);
    EXPECT_EQ(error.fault, RecordFault::DiskFull);
    EXPECT_EQ(TempDir::ReadText(path), "# h\nfirst\n");
    ASSERT_TRUE(AppendRecords(path, kHeader, "second\n", LinkRule::Refuse, error)) << error.Message();
    EXPECT_EQ(TempDir::ReadText(path), "# h\nfirst\nsecond\n");
}

TEST(RecordFile, ProgramsAppendingAtOnceKeepEveryLineWholeUnderOneHeader)
{
    TempDir dir;
    const fs::path path = dir / "runs.tsv";
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < test::kAppendingPrograms; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // All start when the pipe closes.
            ::close(go[1]);
            char byte;
            (void)::read(go[0], &byte, 1);
            ::_exit(test::AppendAsOneProgram(path, p));
        }
        children.push_back(pid);
    }
    ::close(go[0]);
    ::close(go[1]);
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    test::ExpectEveryLineWholeUnderOneHeader(path);
}

TEST(RecordWriter, LinesThatCannotBeWrittenAreKeptInOrderWhileOtherFilesGoOn)
{
    TempDir dir;
    const fs::path blocked = dir / "blocked.tsv";
    const fs::path other = dir / "other.tsv";
    ASSERT_EQ(::mkfifo(blocked.c_str(), 0600), 0);
    CRecordWriter writer(LinkRule::Refuse);
    const struct {
        fs::path file;
        const char* text;
        std::size_t written, pending;
    } adds[] = {{blocked, "1\n", 0, 1}, {other, "x\n", 1, 1}, {blocked, "2\n", 0, 2}};
    for (const auto& add : adds) {
        const RecordStatus status = writer.Add({add.file, kHeader, add.text});
        EXPECT_EQ(status.written, add.written) << add.text;
        EXPECT_EQ(status.pending, add.pending) << add.text;
        EXPECT_EQ(status.error.has_value(), add.pending > 0);
    }
    EXPECT_EQ(writer.PendingText(), "1\n2\n");
    EXPECT_EQ(TempDir::ReadText(other), "# h\nx\n");

    fs::remove(blocked);
    const RecordStatus status = writer.Flush();
    EXPECT_EQ(status.written, 2u);
    EXPECT_EQ(status.pending, 0u);
    EXPECT_FALSE(status.error);
    EXPECT_EQ(TempDir::ReadText(blocked), "# h\n1\n2\n");

    // At the end, what is kept goes to the first file that takes it.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    writer.Add({dir / "fifo", kHeader, "3\n"});
    RecordError error;
    EXPECT_EQ(writer.KeepIn({dir / "fifo", dir / "kept.tsv"}, error), dir / "kept.tsv");
    EXPECT_EQ(writer.Pending(), 0u);
    EXPECT_EQ(TempDir::ReadText(dir / "kept.tsv"), "# h\n3\n");
}

TEST(RecordWriter, AFileDeletedOrMovedIsStartedAgainAtItsPathAndSaidSo)
{
    TempDir dir;
    const fs::path file = dir / "records.tsv";
    CRecordWriter writer(LinkRule::Refuse);
    EXPECT_TRUE(writer.Add({file, kHeader, "1\n"}).restarted.empty());
    fs::rename(file, dir / "archived.tsv");
    EXPECT_EQ(writer.Add({file, kHeader, "2\n"}).restarted, std::vector{file});
    fs::remove(file);
    EXPECT_EQ(writer.Add({file, kHeader, "3\n"}).restarted, std::vector{file});
    EXPECT_TRUE(writer.Add({file, kHeader, "4\n"}).restarted.empty());
    EXPECT_EQ(TempDir::ReadText(dir / "archived.tsv"), "# h\n1\n");
    EXPECT_EQ(TempDir::ReadText(file), "# h\n3\n4\n");
}

}  // namespace
}  // namespace veltrad
