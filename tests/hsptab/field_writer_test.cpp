// The field writer's own arithmetic: percentages written exactly as BLAST's
// printf writes them, ties included, without printf's cost.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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
