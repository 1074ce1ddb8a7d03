// The vector search must find exactly the lines the portable one finds, with
// the same line numbers, on any text.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "line_finder.hpp"

namespace hittab::tests {
namespace {

using Finder = const char* (*)(const char*, const char*, std::uint64_t&);
using Found = std::vector<std::pair<std::size_t, std::uint64_t>>;

// Every candidate line in `text` with its line number, found by `find`.
Found find_all(const std::string& text, Finder find) {
    // Padding on both sides, filled with bytes that would look like line
    // starts if the search ever let them through.
    std::string padded = std::string(finder_overread_before, '\n') + text + std::string(finder_overread_after, '>');
    const char* begin = padded.data() + finder_overread_before;
    const char* end = begin + text.size();
    Found found;
    std::uint64_t line_number = 1;
    for (const char* p = begin; (p = find(p, end, line_number)) != end;) {
        found.emplace_back(p - begin, line_number);
        while (p != end && *p != '\n') ++p;
        if (p != end) {
            ++p;
            ++line_number;
        }
    }
    found.emplace_back(text.size(), line_number);
    return found;
}

Found find_by_definition(const std::string& text) {
    Found found;
    std::uint64_t line_number = 1;
    for (std::size_t start = 0; start < text.size(); ++line_number) {
        bool spaced = text[start] == ' ' && start + 1 < text.size() && (text[start + 1] == 'S' || text[start + 1] == 'I');
        if (text[start] == '>' || spaced) found.emplace_back(start, line_number);
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::uint64_t line_ends = 0;
    for (char c : text) line_ends += c == '\n';
    found.emplace_back(text.size(), line_ends + 1);
    return found;
}

TEST(LineFinder, BothSearchesMatchTheDefinitionOnRandomText) {
    std::mt19937 random(42);
    const char alphabet[] = {'\n', '>', ' ', 'S', 'I', 'x', '\0', '\xff'};
    for (int round = 0; round < 5000; ++round) {
        std::string text(random() % 200, 'x');
        // Mostly ordinary bytes, so that long stretches hold no candidate.
        for (char& c : text) c = random() % 4 == 0 ? alphabet[random() % 8] : 'x';
        Found expected = find_by_definition(text);
        ASSERT_EQ(find_all(text, find_candidate_line_portable), expected) << ::testing::PrintToString(text);
        if (avx2_available()) {
            ASSERT_EQ(find_all(text, find_candidate_line_avx2), expected) << ::testing::PrintToString(text);
        }
    }
}

TEST(LineFinder, LongStretchesWithoutCandidatesCountEveryLine) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "Query  1  ACGTACGT  8\n            ||||||||\nSbjct  1  ACGTACGT  8\n\n";
    text += " Score = 1 bits (2),  Expect = 3\n> a b c";
    Found expected = {{text.find(" Score"), 4001}, {text.find(">"), 4002}, {text.size(), 4002}};
    EXPECT_EQ(find_all(text, find_candidate_line_portable), expected);
    EXPECT_EQ(find_all(text, find_candidate_line_avx2), expected);
    EXPECT_EQ(find_all(text, find_candidate_line), expected);
}

}  // namespace
}  // namespace hittab::tests
