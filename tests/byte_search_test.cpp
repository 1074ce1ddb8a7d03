// The vector search must find exactly the lines the portable one finds, with
// the same line numbers, on any text and in batches of any size.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "byte_search.hpp"

namespace hittab::tests {
namespace {

using Finder = std::size_t (*)(const char*&, const char*, std::uint64_t&, CandidateLine*, std::size_t);
// Offset, length and line number of each line found, then the final line number.
using Found = std::vector<std::tuple<std::size_t, std::size_t, std::uint64_t>>;

Found find_all(const std::string& text, Finder find, std::size_t batch, std::size_t misalignment = 0) {
    // Padding on both sides, filled with bytes that would look like line
    // starts if the search ever let them through.
    std::string padded = std::string(text_padding + misalignment, '\n') + text +
                         std::string(text_padding, '>');
    const char* begin = padded.data() + text_padding + misalignment;
    const char* end = begin + text.size();
    Found found;
    std::vector<CandidateLine> lines(batch);
    std::uint64_t line_number = 1;
    for (const char* position = begin; position != end;) {
        std::size_t count = find(position, end, line_number, lines.data(), batch);
        for (std::size_t i = 0; i < count; ++i) {
            found.emplace_back(lines[i].text.data() - begin, lines[i].text.size(), lines[i].line_number);
        }
        if (count == 0 && position != end) ADD_FAILURE() << "stopped early";
    }
    found.emplace_back(text.size(), 0, line_number);
    return found;
}

Found find_by_definition(const std::string& text) {
    Found found;
    std::uint64_t line_number = 1;
    for (std::size_t start = 0; start < text.size(); ++line_number) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string::npos ? text.size() : end + 1;
        bool spaced = text[start] == ' ' && start + 1 < text.size() && (text[start + 1] == 'S' || text[start + 1] == 'I');
        if (text[start] == '>' || spaced) found.emplace_back(start, next - start, line_number);
        if (end == std::string::npos) break;
        start = next;
    }
    std::uint64_t line_ends = 0;
    for (char c : text) line_ends += c == '\n';
    found.emplace_back(text.size(), 0, line_ends + 1);
    return found;
}

TEST(LineFinder, BothSearchesMatchTheDefinitionOnRandomText) {
    std::mt19937 random(42);
    const char alphabet[] = {'\n', '>', ' ', 'S', 'I', 'x', '\0', '\xff'};
    for (int round = 0; round < 5000; ++round) {
        std::string text(random() % 300, 'x');
        // Mostly ordinary bytes, so that some lines run across windows.
        int density = 1 + static_cast<int>(random() % 8);
        for (char& c : text) c = static_cast<int>(random() % 16) < density ? alphabet[random() % 8] : 'x';
        Found expected = find_by_definition(text);
        std::size_t batch = 1 + random() % 4;
        std::size_t misalignment = random() % 64;
        ASSERT_EQ(find_all(text, find_candidate_lines_portable, batch), expected) << ::testing::PrintToString(text);
        if (avx2_available()) {
            ASSERT_EQ(find_all(text, find_candidate_lines_avx2, batch, misalignment), expected)
                << ::testing::PrintToString(text) << " batch " << batch << " misaligned by " << misalignment;
        }
    }
}

TEST(LineFinder, LongStretchesWithoutCandidatesCountEveryLine) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "Query  1  ACGTACGT  8\n            ||||||||\nSbjct  1  ACGTACGT  8\n\n";
    std::string score = " Score = 1 bits (2),  Expect = 3\n";
    std::string title = "> " + std::string(200, 'a') + " b c";  // longer than a window, no line end
    text += score + title;
    Found expected = {{text.find(" Score"), score.size(), 4001}, {text.find(">"), title.size(), 4002}, {text.size(), 0, 4002}};
    for (Finder find : {find_candidate_lines_portable, find_candidate_lines_avx2, find_candidate_lines}) {
        EXPECT_EQ(find_all(text, find, 64), expected);
    }
}

TEST(WhitespaceBits, BothClassificationsAgreeOnEveryByte) {
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte) bytes += static_cast<char>(byte);
    bytes += bytes;
    for (std::size_t at = 0; at + 64 <= bytes.size(); at += 7) {
        std::uint64_t expected = 0;
        for (unsigned i = 0; i < 64; ++i) {
            auto byte = static_cast<unsigned char>(bytes[at + i]);
            bool whitespace = (byte >= 0x09 && byte <= 0x0D) || (byte >= 0x1C && byte <= 0x20);
            expected |= std::uint64_t{whitespace} << i;
        }
        EXPECT_EQ(whitespace_bits_portable(bytes.data() + at), expected) << at;
        if (avx2_available()) {
            EXPECT_EQ(whitespace_bits_avx2(bytes.data() + at), expected) << at;
        }
    }
}

}  // namespace
}  // namespace hittab::tests
