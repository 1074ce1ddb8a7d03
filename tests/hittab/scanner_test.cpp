// What the tool makes of a report: rows, carried-over values and failures.
// Every case runs with every kernel, through the real reader at several
// block sizes, through the simple line-by-line path, and with CR LF and
// lone CR line ends.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "conversion.hpp"
#include "kernels.hpp"

namespace hittab::tests {
namespace {

using namespace std::string_literals;

const std::string header = "id1 id2 length score length2 e_value identities gaps strand\n";

// One hit in the layout of older BLAST+ releases ("> " before the title).
const std::string example_hit =
    "> DRR001369.139710 GEKBKKN08JJ5PQ length=777\n"
    "Length=777\n"
    "\n"
    " Score = 1376 bits (745),  Expect = 0.0\n"
    " Identities = 745/745 (100%), Gaps = 0/745 (0%)\n"
    " Strand=Plus/Plus\n";
const std::string example_row = "DRR001369.139710 GEKBKKN08JJ5PQ 777 1376 745 0.0 745/745 0/745 Plus/Plus\n";

std::string hit(const std::string& title, const std::string& score, const std::string& identities,
                const std::string& strand) {
    return title + "\nLength=10\n\n" + score + "\n" + identities + "\n" + strand + "\n\n" +
           "Query  1   ACGTACGTAC  10\n"
           "            ||||||||||\n"
           "Sbjct  1   ACGTACGTAC  10\n\n";
}

struct Case {
    const char* name;
    std::string report;
    Outcome expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

Outcome unpacking(std::string table, std::string message, std::uint64_t line) {
    return failure_of(std::move(table), FailureKind::unpacking, std::move(message), line);
}

Outcome index_failure(std::string table, std::uint64_t line) {
    return failure_of(std::move(table), FailureKind::index, "list index out of range", line);
}

std::vector<Case> rows_and_values() {
    const std::string score = " Score = 1376 bits (745),  Expect = 0.0";
    const std::string identities = " Identities = 745/745 (100%), Gaps = 0/745 (0%)";
    return {
        {"EmptyReportGivesHeaderOnly", "", table_of(header)},
        {"ReportWithoutHitsGivesHeaderOnly", "BLASTN 2.12.0+\n\nQuery= q1\n\n***** No hits found *****\n",
         table_of(header)},
        {"OneHit", example_hit, table_of(header + example_row)},
        {"CurrentTitleLayoutWithoutSpace",
         ">DRR001369.139710 GEKBKKN08JJ5PQ length=777\n" + example_hit.substr(example_hit.find('\n') + 1),
         table_of(header + example_row)},
        {"ThreeHitsInOrder",
         hit("> a1 b1 length=11", " Score = 10 bits (5),  Expect = 1e-3", " Identities = 5/5 (100%), Gaps = 0/5 (0%)",
             " Strand=Plus/Plus") +
             hit("> a2 b2 length=22", " Score = 20 bits (6),  Expect = 2e-3",
                 " Identities = 6/6 (100%), Gaps = 0/6 (0%)", " Strand=Plus/Minus") +
             hit(">a3 b3 length=33", " Score = 30 bits (7),  Expect = 3e-3",
                 " Identities = 7/7 (100%), Gaps = 1/7 (14%)", " Strand=Plus/Plus"),
         table_of(header + "a1 b1 11 10 5 1e-3 5/5 0/5 Plus/Plus\n" + "a2 b2 22 20 6 2e-3 6/6 0/6 Plus/Minus\n" +
                  "a3 b3 33 30 7 3e-3 7/7 1/7 Plus/Plus\n")},
        {"ValuesCarryOverToHitsThatLackTheirLines",
         hit("> a1 b1 length=11", " Score = 10 bits (5),  Expect = 1e-3", " Identities = 5/5 (100%), Gaps = 0/5 (0%)",
             " Strand=Plus/Minus") +
             "> a2 b2 length=22\n" + " Score = 20 bits (6),  Expect = 2e-3\n",
         table_of(header + "a1 b1 11 10 5 1e-3 5/5 0/5 Plus/Minus\n" + "a2 b2 22 20 6 2e-3 5/5 0/5 Plus/Minus\n")},
        {"HitWithoutScoreShowsColumnNames", "> a b 7\n Strand=Plus/Plus\n",
         table_of(header + "a b 7 score length2 e_value identities gaps Plus/Plus\n")},
        {"LastScoreOfAHitWins", "> a b 7\n Score = 1 bits (2),  Expect = 3\n Score = 4 bits (5),  Expect = 6\n",
         table_of(header + "a b 7 4 5 6 identities gaps strand\n")},
        {"HitNamedId1IsKept", "> x y 1\n> id1 id2 2\n> z w 3\n",
         table_of(header + "x y 1 score length2 e_value identities gaps strand\n" +
                  "id1 id2 2 score length2 e_value identities gaps strand\n" +
                  "z w 3 score length2 e_value identities gaps strand\n")},
        {"LinesBeforeFirstTitleLeaveHeaderIntact", score + "\n" + identities + "\n Strand=Plus/Plus\n> a b 7\n",
         table_of(header + "a b 7 1376 745 0.0 745/745 0/745 Plus/Plus\n")},
        {"OtherLinesAreIgnored",
         "Query= q\nLength=5\n Score =\n  Score = 1 bits (2),  Expect = 3\n Scores = 1 2 3 4 5 6 7 8\n"
         " Identities=1/1\n Strand =x\nSbjct  1  ACGT  4\n",
         table_of(header)},
    };
}

std::vector<Case> title_lines() {
    const std::string no_values = " score length2 e_value identities gaps strand\n";
    return {
        {"FourWordsWithoutTag", "> a b c\n", table_of(header + "a b c" + no_values)},
        {"TagRemovedInsideWord", "> seqlength=12 b c\n", table_of(header + "seq12 b c" + no_values)},
        {"TagRemovedInOnePass", "> a b lengthlength==7\n", table_of(header + "a b length=7" + no_values)},
        {"LoneTagVanishes", "> a b length= 9\n", table_of(header + "a b 9" + no_values)},
        {"OtherWhitespaceSeparates",
         ">\ta\x1c"
         "b\x1f"
         "c\v\f \n",
         table_of(header + "a b c" + no_values)},
        {"NulAndHighBytesAreValueBytes", "> a\0b c\xa0\x85 d\xff\n"s,
         table_of(header + "a\0b c\xa0\x85 d\xff"s + no_values)},
        {"TooFewValues", "> a b\n", unpacking(header, "not enough values to unpack (expected 4, got 3)", 1)},
        {"TooFewValuesWithoutSpace", "Query= q\n>a\n",
         unpacking(header, "not enough values to unpack (expected 4, got 2)", 2)},
        {"BareMarker", ">\n", unpacking(header, "not enough values to unpack (expected 4, got 1)", 1)},
        {"TagDoesNotCount", "> a length=  b\n",
         unpacking(header, "not enough values to unpack (expected 4, got 3)", 1)},
        {"TooManyValues", "> a b c d\n", unpacking(header, "too many values to unpack (expected 4)", 1)},
        {"TooManyValuesWithoutSpace", ">a b c length=777 d\n",
         unpacking(header, "too many values to unpack (expected 4)", 1)},
        {"FailureKeepsRowsWrittenBefore", example_hit + "\n>a b\n",
         unpacking(header + example_row, "not enough values to unpack (expected 4, got 3)", 8)},
    };
}

std::vector<Case> score_identities_strand_lines() {
    const std::string title = "> a b 7\n";
    const std::string row_start = "a b 7 ";
    return {
        {"ShortCountTokenGivesEmptyLength2", title + " Score = 9 bits (7)  Expect = 1\n",
         table_of(header + row_start + "9  1 identities gaps strand\n")},
        {"FourCharacterCountToken", title + " Score = 9 bits (7)x Expect = 1\n",
         table_of(header + row_start + "9 7 1 identities gaps strand\n")},
        {"ExpectKeepsTrailingComma", title + " Score = 50.0 bits (25),  Expect = 1e-05, Method: Compositional\n",
         table_of(header + row_start + "50.0 25 1e-05, identities gaps strand\n")},
        {"ExpectWithCount", title + " Score = 40.1 bits (20),  Expect(2) = 3e-04\n",
         table_of(header + row_start + "40.1 20 3e-04 identities gaps strand\n")},
        {"ScoreWithoutValue", title + " Score = \n", index_failure(header, 2)},
        {"ScoreWithoutCount", title + " Score = 12 bits\n", index_failure(header, 2)},
        {"ScoreWithoutExpectValue", title + " Score = 12 bits (5), Expect =\n", index_failure(header, 2)},
        {"IdentitiesWithExtraTerm",
         title + " Identities = 745/745 (100%), Positives = 744/745 (99%), Gaps = 0/745 (0%)\n",
         table_of(header + row_start + "score length2 e_value 745/745 744/745 strand\n")},
        {"IdentitiesWithoutGaps", title + " Identities = 5/5 (100%)\n", index_failure(header, 2)},
        {"IdentitiesWithoutValue", "\n" + title + " Identities = \n", index_failure(header, 3)},
        {"StrandKeepsInnerAndOuterSpaces", title + " Strand= Plus / Minus \n",
         table_of(header + row_start + "score length2 e_value identities gaps  Plus / Minus \n")},
        {"EmptyStrand", title + " Strand=\n",
         table_of(header + row_start + "score length2 e_value identities gaps \n")},
        {"StrandOnLastLineWithoutLineEnd", title + " Strand=Plus/Minus",
         table_of(header + row_start + "score length2 e_value identities gaps Plus/Minus\n")},
        {"EmptyStrandOnLastLineWithoutLineEnd",
         title + " Strand=", table_of(header + row_start + "score length2 e_value identities gaps \n")},
    };
}

std::string with_line_ends(const std::string& report, const std::string& line_end) {
    std::string result;
    for (char c : report) {
        if (c == '\n') {
            result += line_end;
        } else {
            result += c;
        }
    }
    return result;
}

using CaseWithKernel = std::tuple<Case, std::string>;
std::string kernel_of(const CaseWithKernel& param) { return std::get<1>(param); }

class Conversion : public PerKernel<CaseWithKernel, kernel_of> {
protected:
    const Case& test_case() const { return std::get<0>(GetParam()); }
};

TEST_P(Conversion, GivesExpectedTableAndFailure) {
    const Case& c = test_case();
    EXPECT_EQ(convert(c.report, default_block_size, kernel()), c.expected);
    EXPECT_EQ(convert_line_by_line(c.report, kernel()), c.expected);
    EXPECT_EQ(convert_by_reference(c.report), c.expected);
    for (std::size_t block_size : {1, 2, 3, 5, 16, 33}) {
        EXPECT_EQ(convert(c.report, block_size, kernel()), c.expected) << "block size " << block_size;
    }
}

TEST_P(Conversion, SameWithCrLfAndLoneCrLineEnds) {
    const Case& c = test_case();
    for (const char* line_end : {"\r\n", "\r"}) {
        std::string report = with_line_ends(c.report, line_end);
        EXPECT_EQ(convert(report, default_block_size, kernel()), c.expected)
            << "line end " << (line_end[1] ? "CR LF" : "CR");
        for (std::size_t block_size : {1, 2, 3, 7}) {
            EXPECT_EQ(convert(report, block_size, kernel()), c.expected) << "block size " << block_size;
        }
    }
}

std::string case_name(const ::testing::TestParamInfo<CaseWithKernel>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
}

auto with_every_kernel(const std::vector<Case>& cases) {
    return ::testing::Combine(::testing::ValuesIn(cases), ::testing::ValuesIn(kernel_names()));
}

INSTANTIATE_TEST_SUITE_P(RowsAndValues, Conversion, with_every_kernel(rows_and_values()), case_name);
INSTANTIATE_TEST_SUITE_P(TitleLines, Conversion, with_every_kernel(title_lines()), case_name);
INSTANTIATE_TEST_SUITE_P(ScoreIdentitiesStrandLines, Conversion, with_every_kernel(score_identities_strand_lines()),
                         case_name);

// Title, Score and Identities lines of every length from well inside one
// 64-byte window to well past it, the values moved by runs of spaces: short
// lines are cut from one whitespace mask, longer ones in batches, and both
// must give the same values and the same failures.
class LinesAroundOneWindow : public EachKernel {};

TEST_P(LinesAroundOneWindow, GiveTheSameValuesAtEveryLength) {
    for (std::size_t gap = 1; gap <= 40; ++gap) {
        const std::string spaces(gap, ' ');
        const std::string title = ">" + spaces + "DRR001369.139710" + spaces + "NAME=x" + spaces + "length=777\n";
        const std::string score = " Score = 1376 bits (745)," + spaces + "Expect =" + spaces + "1e-10" + spaces + "\n";
        const std::string identities = " Identities = 745/745 (100%)," + spaces + "Gaps =" + spaces + "0/745 (0%)\n";
        const std::string report = title + score + identities + " Strand=Plus/Plus\n";
        const Outcome expected =
            table_of(header + "DRR001369.139710 NAME=x 777 1376 745 1e-10 745/745 0/745 Plus/Plus\n");
        EXPECT_EQ(convert_line_by_line(report, kernel()), expected) << "gap " << gap;
        EXPECT_EQ(convert_as_given(report, default_block_size, kernel()), expected) << "gap " << gap;

        const std::string short_score = title + " Score = 1376 bits (745)," + spaces + "Expect =" + spaces + "\n";
        EXPECT_EQ(convert_line_by_line(short_score, kernel()), index_failure(header, 2)) << "gap " << gap;
        const std::string short_identities =
            title + " Identities = 745/745 (100%)," + spaces + "Gaps =" + spaces + "\n";
        EXPECT_EQ(convert_line_by_line(short_identities, kernel()), index_failure(header, 2)) << "gap " << gap;
        const std::string long_title = ">" + spaces + "a" + spaces + "length=" + spaces + "b c" + spaces + "d\n";
        EXPECT_EQ(convert_line_by_line(long_title, kernel()),
                  unpacking(header, "too many values to unpack (expected 4)", 1))
            << "gap " << gap;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, LinesAroundOneWindow, ::testing::ValuesIn(kernel_names()));

}  // namespace
}  // namespace hittab::tests
