// The reader hands out whole lines with every line end made LF, whatever the
// block size and wherever a block boundary falls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "line_end_cases.hpp"
#include "report_reader.hpp"

namespace hittab::tests {
namespace {

// Everything the reader hands out, with a '|' after each run of lines.
std::string read_all(const std::string& report, std::size_t block_size) {
    std::FILE* stream = std::tmpfile();
    std::fwrite(report.data(), 1, report.size(), stream);
    std::rewind(stream);
    ReportReader reader(FileHandle(stream), "report", block_size);
    std::string seen;
    for (PaddedView lines = reader.next_lines(); !lines.empty(); lines = reader.next_lines()) {
        seen.append(lines.data(), lines.size());
        seen += '|';
    }
    reader.close();
    return seen;
}

std::string without_run_marks(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '|'), text.end());
    return text;
}

TEST(ReportReader, LineEndsBecomeLfAtEveryBlockSize) {
    for (const LineEndCase& c : line_end_cases()) {
        for (std::size_t block_size : {1, 2, 3, 4, 5, 8, 1024}) {
            EXPECT_EQ(without_run_marks(read_all(c.report, block_size)), c.expected)
                << "report " << ::testing::PrintToString(c.report) << ", block size " << block_size;
        }
    }
}

TEST(ReportReader, RunsEndAtLineEndsExceptTheLast) {
    std::string seen = read_all("one\ntwo\nthree\nfour", 6);
    EXPECT_EQ(seen, "one\n|two\n|three\n|four|");
}

TEST(ReportReader, LineLongerThanTheBlockIsHandedOutWhole) {
    std::string long_line(100000, 'x');
    std::string seen = read_all("a\n" + long_line + "\r\nb\n", 4096);
    EXPECT_NE(seen.find(long_line + "\n"), std::string::npos);
    EXPECT_EQ(without_run_marks(seen), "a\n" + long_line + "\nb\n");
}

// Large blocks keep less room before them than a block: a line that crosses
// into the next block but is longer than that room is gathered elsewhere,
// one that fits is not. Both come out whole, at every place a boundary falls.
TEST(ReportReader, LinesAcrossLargeBlocksComeOutWholeWhateverTheirLength) {
    const std::size_t block_size = 512 * 1024;
    for (std::size_t line_length :
         {std::size_t{1000}, std::size_t{130 * 1024}, std::size_t{300 * 1024}, std::size_t{600 * 1024}}) {
        for (std::size_t lead : {block_size - 10, block_size - line_length / 2, std::size_t{1}}) {
            std::string report = std::string(lead, 'a') + "\n" + std::string(line_length, 'x') + "\n" +
                                 std::string(block_size, 'b') + "\nlast";
            std::string seen = read_all(report, block_size);
            EXPECT_EQ(without_run_marks(seen), report) << "line " << line_length << ", lead " << lead;
            EXPECT_NE(seen.find(std::string(line_length, 'x') + "\n"), std::string::npos)
                << "line " << line_length << ", lead " << lead;
        }
    }
}

// CR LF and lone CR made LF one byte at a time, the way the reader must.
std::string with_lf_ends(const std::string& text) {
    std::string rewritten;
    for (std::size_t i = 0; i < text.size(); ++i) {
        rewritten += text[i] == '\r' ? '\n' : text[i];
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return rewritten;
}

// A large block is read, and its line ends made LF, in pieces of 128 KiB: a
// CR LF split between two pieces is still one line end, a lone CR at the end
// of one still another.
TEST(ReportReader, LineEndsAcrossThePiecesOfALargeBlockBecomeLf) {
    const std::size_t block_size = 512 * 1024;
    const std::size_t piece = 128 * 1024;
    for (std::size_t boundary : {piece, 2 * piece}) {
        for (std::size_t before : {boundary - 2, boundary - 1, boundary}) {
            for (const char* ends : {"\r\nb\r\rc\n", "\rb\r\n", "\r\r\n\n"}) {
                std::string report = std::string(before, 'a') + ends + std::string(1000, 'd') + "\r\nlast";
                EXPECT_EQ(without_run_marks(read_all(report, block_size)), with_lf_ends(report))
                    << "line ends " << ::testing::PrintToString(std::string(ends)) << " from byte " << before;
            }
        }
    }
}

TEST(NormaliseLineEnds, MatchesAPlainRewriteOnRandomText) {
    std::mt19937 random(7);
    const char alphabet[] = {'\r', '\n', 'a', ' '};
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 40, 'a');
        for (char& c : text) c = alphabet[random() % 4];
        std::string expected = with_lf_ends(text);
        // Cut the text at a random point, as a block boundary would.
        std::size_t cut = text.empty() ? 0 : random() % (text.size() + 1);
        std::string first = text.substr(0, cut), second = text.substr(cut);
        bool previous_was_cr = false;
        first.resize(normalise_line_ends(first.data(), first.size(), previous_was_cr));
        second.resize(normalise_line_ends(second.data(), second.size(), previous_was_cr));
        ASSERT_EQ(first + second, expected) << ::testing::PrintToString(text) << " cut at " << cut;
    }
}

}  // namespace
}  // namespace hittab::tests
