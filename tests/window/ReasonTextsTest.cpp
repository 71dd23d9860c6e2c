// The Korean reasons: which cause gets which words, where the device or the
// file is named, when the system's own text follows. The words are data;
// what is checked is that each cause has its own and nothing is left English.

#include "window/ReasonTexts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

namespace veltrad::test {
namespace {

constexpr char kSystemError[] = "시스템 오류";

bool HasLatinWord(const std::string& text)
{
    // Names and units may stay (COM, dialout, baud, GiB, Byte, XON/XOFF, /dev/pts): a sentence may not.
    int run = 0;
    for (const char c : text) {
        run = (c >= 'a' && c <= 'z') ? run + 1 : 0;
        if (run >= 8)
            return true;
    }
    return false;
}

TEST(ReasonTexts, TheCommonSystemErrorsHaveKoreanWords)
{
    const struct {
        int errnum;
        const char* cause;
    } common[] = {
        {EBUSY, "in use"},          {EACCES, "permission denied"}, {ENOENT, "no such file"},
        {ENODEV, "no such device"}, {ENOSPC, "disk full"},         {ENOTDIR, "not a folder"},
        {EISDIR, "a folder"},       {EROFS, "read-only"},          {EIO, "I/O error"},
    };
    std::set<std::string> seen;
    for (const auto& c : common) {
        SCOPED_TRACE(c.cause);
        const std::string text = KoreanErrno(c.errnum);
        EXPECT_EQ(text.find(kSystemError), std::string::npos) << text;
        EXPECT_FALSE(HasLatinWord(text)) << text;
        EXPECT_TRUE(seen.insert(text).second) << "two causes, one text: " << text;
        EXPECT_EQ(KoreanErrno(c.errnum, std::generic_category().message(c.errnum)), text)
            << "the plain message adds nothing";
        EXPECT_EQ(KoreanErrno(c.errnum, "Der Datenträger ist voll"), text + " (Der Datenträger ist voll)");
        EXPECT_EQ(KoreanErrorCode(std::make_error_code(static_cast<std::errc>(c.errnum))), text);
    }
    EXPECT_EQ(KoreanErrno(EDOM), std::string(kSystemError) + " (" + std::generic_category().message(EDOM) + ")");
}

TEST(ReasonTexts, APortIsNamedOnceWithItsReason)
{
    const PortErrorReason reasons[] = {
        PortErrorReason::NoPortGiven,
        PortErrorReason::PortNumberOutOfRange,
        PortErrorReason::NoSuchDevice,
        PortErrorReason::PermissionDenied,
        PortErrorReason::InUse,
        PortErrorReason::NotResponding,
        PortErrorReason::NotASerialDevice,
        PortErrorReason::ControllingTerminal,
        PortErrorReason::Console,
        PortErrorReason::PtyMultiplexer,
        PortErrorReason::LineSettings,
        PortErrorReason::SystemCall,
    };
    std::set<std::string> seen;
    for (const PortErrorReason reason : reasons) {
        PortError error{"\\\\.\\COM10", reason, EIO, "cannot purge the queues"};
        const std::string text = KoreanPortError(error);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.rfind("COM10: ", 0), 0u);
        EXPECT_GT(text.size(), std::string("COM10: ").size());
        EXPECT_FALSE(HasLatinWord(text));
        EXPECT_TRUE(seen.insert(text).second);
    }
    EXPECT_EQ(KoreanPortError({"/dev/ttyS0", PortErrorReason::SystemCall, EIO, "cannot purge the queues"}),
              "/dev/ttyS0: 포트를 준비하지 못했습니다: " + KoreanSystemError(EIO));
    EXPECT_EQ(KoreanPortError({}), "");
}

TEST(ReasonTexts, AnImageFileIsNamedWithItsReasonAndFigures)
{
    const struct {
        ImageError error;
        std::string text;
    } cases[] = {
        {{"", "no file chosen", 0}, "파일을 선택하지 않았습니다"},
        {{"a.bin", "reading stopped", 0, true}, "a.bin: 읽기를 중지했습니다"},
        {{"a.bin", "is a pipe (FIFO), not a regular file", 0}, "a.bin: 일반 파일이 아닙니다 (파이프, 장치 또는 소켓)"},
        {{"a.bin", "is a folder, not a file", EISDIR}, "a.bin: " + KoreanErrno(EISDIR)},
        {{"a.bin", "is larger than 4 GiB", EFBIG},
         "a.bin: 4 GiB(4294967296 Byte)보다 큽니다. 32비트 프레임 주소가 닿지 않습니다"},
        {{"a.bin", std::generic_category().message(EACCES), EACCES}, "a.bin: " + KoreanErrno(EACCES)},
        // Windows' own words where the image layer could not name the cause.
        {{"a.bin", "The network name cannot be found", EIO},
         "a.bin: " + KoreanErrno(EIO) + " (The network name cannot be found)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KoreanImageError(c.error), c.text);
}

}  // namespace
}  // namespace veltrad::test
