// The table of line starts, and the filter made from it that passes over
// the lines between alignments: the filter lets through exactly the lines
// whose first two bytes begin some entry, and a line's kind is the entry
// it begins with.
#include <gtest/gtest.h>

#include <string>

#include "hsptab/line_starts.hpp"

namespace hittab::tests {
namespace {

using hsptab::LineKind;

// Whether some entry could begin `line` (not empty), as far as its first
// two bytes tell: a line of one byte is only ever a one-byte entry.
bool begins_some_entry(std::string_view line) {
    for (const hsptab::LineStart& start : hsptab::line_starts) {
        if (start.prefix.size() == 1 ? line[0] == start.prefix[0] : line.substr(0, 2) == start.prefix.substr(0, 2)) {
            return true;
        }
    }
    return false;
}

TEST(LineStarts, TheFilterPassesExactlyTheFirstTwoBytesOfTheTable) {
    for (int first = 0; first < 256; ++first) {
        std::string alone(1, static_cast<char>(first));
        EXPECT_EQ(hsptab::may_matter_between_alignments(alone), begins_some_entry(alone)) << first;
        for (int second = 0; second < 256; ++second) {
            std::string line = alone + static_cast<char>(second) + "rest";
            ASSERT_EQ(hsptab::may_matter_between_alignments(line), begins_some_entry(line)) << first << " " << second;
        }
    }
    EXPECT_FALSE(hsptab::may_matter_between_alignments(""));
}

TEST(LineStarts, EachLineHasTheKindOfTheEntryItBeginsWith) {
    for (const hsptab::LineStart& start : hsptab::line_starts) {
        EXPECT_EQ(hsptab::kind_of_line(std::string(start.prefix) + " 2.12.0+"), start.kind) << start.prefix;
        EXPECT_TRUE(hsptab::may_matter_between_alignments(start.prefix)) << start.prefix;
    }
    struct Case {
        const char* line;
        LineKind kind;
    };
    const Case cases[] = {
        {"BLASTN 2.12.0+", LineKind::program},
        {"TBLASTX 2.2.31+", LineKind::program},
        {"Query= q1 first query", LineKind::query},
        {"Query=", LineKind::query},
        {"Query #1: q1 Query ID: lcl|Query_1 Length: 40", LineKind::query_number},
        {"Database: db", LineKind::database},
        {"Results from round 2", LineKind::round},
        {">s1 subject one", LineKind::subject_title},
        {">", LineKind::subject_title},
        {" Score = 30.0 bits (32),  Expect = 1e-05", LineKind::score},
        {"Score:41.0 bits(44), Expect:0.33,", LineKind::score},
        {" Score:41.0", LineKind::score},
        // Between alignments, and passed over there.
        {"BLAST", LineKind::other},
        {"Database:db", LineKind::other},
        {"Query  1   ACGT  4", LineKind::other},
        {"Reference: Zheng Zhang, Scott Schwartz", LineKind::reference},
        {"Sequences producing significant alignments:                          (Bits)  Value", LineKind::summary},
        {"Sequences used in model and found again:", LineKind::other},
        {"s1 subject one                                                        30.0    1e-05", LineKind::other},
        {"Lambda      K        H", LineKind::lambda},
        {"Matrix: BLOSUM62", LineKind::matrix},
        {"  Database: db", LineKind::other},
        {"Effective search space used: 2772145", LineKind::other},
        {"  Database:db", LineKind::other},
        {"  Number of letters in database: 200", LineKind::other},
        {" Strand=Plus/Plus", LineKind::other},
        {"Search has CONVERGED!", LineKind::other},
        {"", LineKind::other},
    };
    for (const Case& c : cases) EXPECT_EQ(hsptab::kind_of_line(c.line), c.kind) << c.line;
}

TEST(LineStarts, ProgramLinesAreAKnownNameASpaceAndAVersion) {
    struct Case {
        const char* line;
        const char* name;  // null: no program line
    };
    const Case cases[] = {
        {"BLASTN 2.12.0+", "BLASTN"},
        {"BLASTP 2.0.10 [Aug-26-1999]", "BLASTP"},
        {"RPSTBLASTN 2.12.0+", "RPSTBLASTN"},
        {"DELTABLAST 2.12.0+", "DELTABLAST"},
        {"BLASTN", nullptr},
        {"BLASTNX 2.12.0+", nullptr},
        {"BLASTN version 2", nullptr},
        {"MEGABLAST 2.12.0+", nullptr},
    };
    for (const Case& c : cases) {
        std::string_view name;
        EXPECT_EQ(hsptab::is_program_line(c.line, name), c.name != nullptr) << c.line;
        if (c.name != nullptr) {
            EXPECT_EQ(name, c.name) << c.line;
        }
    }
}

}  // namespace
}  // namespace hittab::tests
