// The field writer's own arithmetic: percentages written exactly as BLAST's
// printf writes them, ties included, without printf's cost; bit scores in
// the width of BLAST's table; fields named twice.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hsp_conversion.hpp"
#include "hsptab/field_writer.hpp"

namespace hittab::tests {
namespace {

TEST(Percentage, EqualsPrintfForEveryFractionUpToALength) {
    int differences = 0;
    for (std::uint64_t whole = 0; whole <= 2500; ++whole) {
        for (std::uint64_t part = 0; part <= whole; ++part) {
            for (int decimals : {2, 3}) {
                std::string written;
                hsptab::append_percentage(written, part, whole, decimals);
                char expected[64];
                double value = whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
                std::snprintf(expected, sizeof expected, "%.*f", decimals, value);
                if (written != expected && ++differences <= 5) {
                    ADD_FAILURE() << part << "/" << whole << ": " << written << " instead of " << expected;
                }
            }
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST(Percentage, LongAlignmentsAndTies) {
    // 1/64 is 1.5625 %: a tie printf breaks to the even digit.
    for (auto [part, whole] : {std::pair<std::uint64_t, std::uint64_t>{1, 64},
                               {1, 1600},
                               {3, 8000},
                               {999999, 1000000},
                               {123456789, 987654321},
                               {5, 1ull << 41}}) {
        for (int decimals : {2, 3}) {
            std::string written;
            hsptab::append_percentage(written, part, whole, decimals);
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.*f", decimals,
                          100.0 * static_cast<double>(part) / static_cast<double>(whole));
            EXPECT_EQ(written, expected) << part << "/" << whole;
        }
    }
}

}  // namespace
}  // namespace hittab::tests

namespace hittab::tests {
namespace {

// BLAST writes a field named twice once, where it is first named.
TEST(Fields, NamedTwiceAreWrittenOnce) {
    using hsptab::Field;
    EXPECT_EQ(hsptab::parse_fields("qseqid bitscore qseqid evalue bitscore"),
              (std::vector<Field>{Field::qseqid, Field::bitscore, Field::evalue}));
    std::vector<Field> std_twice = hsptab::parse_fields("std std");
    EXPECT_EQ(std_twice, hsptab::parse_fields("std"));
    EXPECT_EQ(hsptab::parse_fields("evalue std").size(), std_twice.size());
}

// BLAST's table writes a bit score below 10 as "%4.1lf" does: " 8.4".
TEST(Fields, BitScoresKeepTheWidthOfBlastsTable) {
    const std::string alignment =
        " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n"
        " Strand=Plus/Plus\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n\n\n";
    std::string weak = alignment;
    weak.replace(weak.find("30.0 bits (32)"), 14, " 8.4 bits (4)");
    std::string huge = alignment;
    huge.replace(huge.find("30.0 bits (32)"), 14, "1.293e+05 bits (70000)");
    std::string report = "BLASTN 2.12.0+\n\nQuery= q1\n\nLength=40\n\n>s1 t\nLength=100\n\n" + weak + huge + alignment +
                         "Lambda      K        H\n    1.33    0.621     1.12 \n\n" + blast_plus_closing;
    HspOutcome outcome = convert_hsps(report, "bitscore score");
    ASSERT_FALSE(outcome.failed) << outcome.message;
    EXPECT_EQ(outcome.table, " 8.4\t4\n1.293e+05\t70000\n30.0\t32\n");
}

}  // namespace
}  // namespace hittab::tests
