#pragma once
// Programs appending records to one file at once, as stations sharing a log
// do: each program's lines, and the check that none was lost or torn.

#include "multiport/RecordFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace veltrad::test {

constexpr char kAppendersHeader[] = "# h\n";
constexpr int kAppendingPrograms = 8;
constexpr int kLinesPerProgram = 16;

// Long enough that a torn write would show inside a line.
inline std::string AppendedLine(int program, int n)
{
    return "program " + std::to_string(program) + " line " + std::to_string(n) + " " + std::string(200, '.') + "\n";
}

// One program's share, line by line: 0 when every line went in, else 1.
inline int AppendAsOneProgram(const std::filesystem::path& file, int program)
{
    for (int n = 0; n < kLinesPerProgram; ++n) {
        RecordError error;
        if (!AppendRecords(file, kAppendersHeader, AppendedLine(program, n), LinkRule::Refuse, error))
            return 1;
    }
    return 0;
}

// Once every program ended: the header once, then every line whole.
inline void ExpectEveryLineWholeUnderOneHeader(const std::filesystem::path& file)
{
    std::ifstream text(file, std::ios::binary);
    std::string first;
    std::getline(text, first);
    EXPECT_EQ(first + "\n", kAppendersHeader);
    std::multiset<std::string> got;
    for (std::string l; std::getline(text, l);)
        got.insert(l + "\n");
    std::multiset<std::string> expected;
    for (int p = 0; p < kAppendingPrograms; ++p) {
        for (int n = 0; n < kLinesPerProgram; ++n)
            expected.insert(AppendedLine(p, n));
    }
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_EQ(got, expected);
}

}  // namespace veltrad::test
