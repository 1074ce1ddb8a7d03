// Reading in stretches on two threads gives the table, failure and line
// number of reading from start to end, also where one stretch says more
// than is held at once before being applied.
#include <gtest/gtest.h>

#include <string>

#include "conversion.hpp"

namespace hittab::tests {
namespace {

std::string many_hits(int count) {
    std::string report;
    for (int i = 0; i < count; ++i) {
        report += ">r" + std::to_string(i) + " xlength=" + std::to_string(i) + "y length=9\n";
        if (i % 3 == 0) report += " Strand=Plus/Minus\n";
    }
    return report;
}

TEST(StretchConversion, StretchThatSaysMoreThanIsHeldAtOnceConvertsTheSame) {
    for (const std::string& report : {many_hits(40000), many_hits(40000) + ">only two\n" + many_hits(10)}) {
        for (std::size_t stretch_size : {std::size_t{4096}, std::size_t{1} << 20, std::size_t{8} << 20}) {
            Outcome expected = convert_as_given(report);
            EXPECT_EQ(convert_in_stretches(report, stretch_size), expected) << "stretch size " << stretch_size;
        }
    }
}

std::string full_hits(int count, const std::string& strand) {
    std::string report;
    for (int i = 0; i < count; ++i) {
        report += ">r" + std::to_string(i) + " s length=" + std::to_string(i) + "\n";
        report += " Score = " + std::to_string(i) + " bits (2),  Expect = 1e-" + std::to_string(i % 99) + "\n";
        report += " Identities = 5/6 (83%), Gaps = 0/6 (0%)\n";
        if (i == 0) report += " Strand=" + strand + "\n";
    }
    return report;
}

// Once a stretch has given every value, its rows are written ahead of its
// turn; rows much longer than their lines are written out in parts.
TEST(StretchConversion, RowsWrittenAheadComeInReportOrder) {
    const std::string long_strand(30000, 'P');
    const std::string reports[] = {
        full_hits(30000, "Plus/Minus"),
        full_hits(30000, "Plus/Minus") + ">only two\n" + full_hits(3, "x"),
        full_hits(80, long_strand) + many_hits(100),
        full_hits(80, long_strand) + " Score = 1\n" + full_hits(2, "y"),
    };
    for (const std::string& report : reports) {
        for (std::size_t stretch_size : {std::size_t{4096}, std::size_t{1} << 20, std::size_t{8} << 20}) {
            Outcome expected = convert_as_given(report);
            EXPECT_EQ(convert_in_stretches(report, stretch_size), expected) << "stretch size " << stretch_size;
        }
    }
}

// A report whose last line, without a line end, is the Strand, Score or
// Identities line of its last hit, with each kind of line end: the row
// takes that line's values as the line holds them.
TEST(StretchConversion, LastLineWithoutLineEndConvertsTheSameWithEveryLineEnd) {
    std::string hits = full_hits(400, "Plus/Minus");
    const std::string last_lines[] = {" Strand=Plus/Plus", " Score = 120 bits (2),  Expect = 1e-120",
                                      " Identities = 120/120 (100%), Gaps = 0/120 (0%)"};
    for (const std::string& last : last_lines) {
        for (const std::string line_end : {"\n", "\r\n", "\r"}) {
            std::string report;
            for (char c : hits + ">last s length=120\n") c == '\n' ? report += line_end : report += c;
            report += last;
            Outcome expected = convert_as_given(report);
            for (std::size_t stretch_size : {std::size_t{7}, std::size_t{100}, std::size_t{4096}}) {
                EXPECT_EQ(convert_in_stretches(report, stretch_size), expected)
                    << ::testing::PrintToString(last) << ", line ends " << ::testing::PrintToString(line_end)
                    << ", stretch size " << stretch_size;
            }
        }
    }
}

// The file, cut short or grown by another process once reading has begun,
// is stood for by a size at the start other than the file's: the
// conversion fails as a read failure naming the report, after rows that
// begin the full table.
TEST(StretchConversion, ReportCutShortOrGrownWhileBeingReadFails) {
    const std::string report = full_hits(3000, "Plus/Minus");
    const std::string full = convert_as_given(report).table;
    for (std::size_t at = 1; at < report.size(); at += 9973) {
        for (std::size_t stretch_size : {std::size_t{4096}, std::size_t{1} << 20}) {
            Outcome cut = convert_in_stretches(report.substr(0, at), stretch_size, best_kernel(), report.size());
            Outcome grown = convert_in_stretches(report, stretch_size, best_kernel(), at);
            const std::pair<Outcome, std::string> outcomes[] = {{cut, "was cut short"}, {grown, "grew"}};
            for (const auto& [outcome, how] : outcomes) {
                std::string what = "the report " + how + " at " + std::to_string(at) + ", stretch size " +
                                   std::to_string(stretch_size);
                EXPECT_TRUE(outcome.failed) << what;
                EXPECT_EQ(outcome.kind, FailureKind::io) << what;
                EXPECT_EQ(
                    outcome.message.rfind("cannot read report 'report': the report " + how + " while being read", 0),
                    0u)
                    << what << ": " << outcome.message;
                EXPECT_EQ(full.compare(0, outcome.table.size(), outcome.table), 0) << what;
            }
        }
    }
}

// A thread parks a stretch read before its turn and reads the next one;
// when that one says too much to be held, the parked one is handed on
// first. Here stretches that say too much (rows much longer than their
// lines, or lines that never complete a row) follow ordinary ones. Run a
// few times, since which stretches get parked depends on timing.
TEST(StretchConversion, StretchesThatSayTooMuchAfterAParkedOneConvertTheSame) {
    const std::string long_strand(10000, 'P');
    std::string long_rows_between_short_ones;
    std::string many_lines_between_rows;
    for (int i = 0; i < 10; ++i) {
        long_rows_between_short_ones += full_hits(300, "x") + full_hits(200, long_strand);
        many_lines_between_rows += full_hits(10000, "x") + many_hits(60000);
    }
    const std::pair<std::string, std::size_t> reports[] = {
        {long_rows_between_short_ones, 32 * 1024},
        {long_rows_between_short_ones + ">only two\n" + full_hits(3, "x"), 32 * 1024},
        {many_lines_between_rows, std::size_t{1} << 20},
    };
    for (const auto& [report, stretch_size] : reports) {
        Outcome expected = convert_as_given(report);
        for (int run = 0; run < 3; ++run) {
            EXPECT_EQ(convert_in_stretches(report, stretch_size), expected) << "stretch size " << stretch_size;
        }
    }
}

}  // namespace
}  // namespace hittab::tests
