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

}  // namespace
}  // namespace hittab::tests
