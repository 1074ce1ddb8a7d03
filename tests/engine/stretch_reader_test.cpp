// Stretches of a file, read in any order, hold every line once, whole, with
// every line end made LF, wherever a stretch boundary falls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "failure.hpp"
#include "line_end_cases.hpp"
#include "stretch_reader.hpp"

namespace hittab::tests {
namespace {

// A file holding `text`, closed with the holder.
struct TextFile {
    explicit TextFile(const std::string& text) : stream(std::tmpfile()) {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fflush(stream);
    }
    ~TextFile() { std::fclose(stream); }
    int descriptor() const { return fileno(stream); }
    std::FILE* stream;
};

// A last line without a line end is read up to the zeroed padding after
// it: the bytes there must never be stale text, line ends rewritten or not.
void expect_padding_after_last_line(const Stretch& stretch, const std::string& text) {
    const PaddedView& lines = stretch.lines;
    if (lines.empty() || lines[lines.size() - 1] == '\n') return;
    const char* after = lines.data() + lines.size();
    EXPECT_EQ(std::string(after, text_padding), std::string(text_padding, '\0'))
        << "after the last line of " << ::testing::PrintToString(text);
}

// Every stretch's lines, the stretches read last to first, with a '|' after each stretch.
std::string read_backwards(const std::string& text, std::size_t stretch_size) {
    TextFile file(text);
    StretchReader reader(file.descriptor(), "report", stretch_size, text.size());
    std::uint64_t count = text.size() / stretch_size + 1;
    std::string seen;
    for (std::uint64_t index = count; index-- > 0;) {
        Stretch stretch = reader.read(index);
        EXPECT_FALSE(stretch.failure);
        expect_padding_after_last_line(stretch, text);
        // Only a stretch at the file's end may say so; the one past it must.
        if (index == count - 1 || (index + 1) * stretch_size < text.size()) {
            EXPECT_EQ(stretch.last, index == count - 1)
                << "stretch " << index << " of " << ::testing::PrintToString(text);
        }
        seen.insert(0, std::string(stretch.lines.text()) + "|");
    }
    return seen;
}

std::string without_marks(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '|'), text.end());
    return text;
}

TEST(StretchReader, LinesComeOnceWithLfEndsAtEveryStretchSize) {
    std::vector<LineEndCase> cases = line_end_cases();
    cases.push_back(
        {">a b length=1\n Score = 1 bits (2),  Expect = 3\n", ">a b length=1\n Score = 1 bits (2),  Expect = 3\n"});
    for (const LineEndCase& c : cases) {
        for (std::size_t stretch_size : {1, 2, 3, 4, 5, 8, 1024}) {
            EXPECT_EQ(without_marks(read_backwards(c.report, stretch_size)), c.expected)
                << "report " << ::testing::PrintToString(c.report) << ", stretch size " << stretch_size;
        }
    }
}

TEST(StretchReader, AStretchHoldsTheLinesThatStartInIt) {
    // Lines start at 0, 4, 8 and 15; "three\r\n" runs past the second stretch.
    EXPECT_EQ(read_backwards("one\ntwo\nthree\r\nfour", 5), "one\ntwo\n|three\n||four|");
    // Stretches inside a line that started before them are empty.
    EXPECT_EQ(read_backwards("a\nbbbbbbbbbbbbbb\nc", 4), "a\nbbbbbbbbbbbbbb\n||||c|");
}

// The lines read part after part, each part starting where the lines of
// the one before end, with a '|' after each part.
std::string read_onwards(const std::string& text, std::size_t part_size) {
    TextFile file(text);
    StretchReader reader(file.descriptor(), "report", part_size, text.size());
    std::string seen;
    for (std::uint64_t begin = 0;;) {
        Stretch part = reader.read_lines_starting_in(begin, begin + part_size);
        EXPECT_FALSE(part.failure);
        expect_padding_after_last_line(part, text);
        seen += std::string(part.lines.text()) + "|";
        if (part.last) break;
        EXPECT_GE(part.next_line, begin + part_size);
        begin = part.next_line;
    }
    return seen;
}

TEST(StretchReader, PartsThatStartWhereTheLastOneEndedHoldEveryLineOnce) {
    EXPECT_EQ(read_onwards("one\ntwo\nthree\r\nfour", 5), "one\ntwo\n|three\n|four|");
    EXPECT_EQ(read_onwards("a\nbbbbbbbbbbbbbb\nc\n", 4), "a\nbbbbbbbbbbbbbb\n|c\n|");
    for (const LineEndCase& c : line_end_cases()) {
        for (std::size_t part_size : {1, 2, 3, 5, 1024}) {
            EXPECT_EQ(without_marks(read_onwards(c.report, part_size)), c.expected)
                << "report " << ::testing::PrintToString(c.report) << ", part size " << part_size;
        }
    }
}

// The rewriting of CR LF shortens the text by one byte a line; what lies
// past its new end is the end of the text as it was. A last line without a
// line end is the one that could run on into it.
TEST(StretchReader, LastLineWithoutLineEndIsFollowedByPaddingAfterLineEndsAreRewritten) {
    std::string body;
    for (int i = 0; i < 200; ++i) body += "Query  1    ACGTACGTAC  10\n            ++++++++++\n";
    const std::string last_lines[] = {"Sbjct  101  ACGTACGTAC  120", " Strand=Plus/Plus",
                                      " Score = 1 bits (2),  Expect = 3"};
    for (const std::string& last : last_lines) {
        for (const char* line_end : {"\r\n", "\r"}) {
            std::string text;
            for (char c : body) c == '\n' ? text += line_end : text += c;
            text += last;
            for (std::size_t stretch_size : {std::size_t{7}, std::size_t{100}, std::size_t{4096}, text.size()}) {
                EXPECT_EQ(without_marks(read_backwards(text, stretch_size)), body + last);
                EXPECT_EQ(without_marks(read_onwards(text, stretch_size)), body + last);
            }
        }
    }
}

TEST(StretchReader, LineLongerThanManyStretchesComesWholeWithTheStretchItStartsIn) {
    std::string long_line(300000, 'x');
    std::string text = "a\n" + long_line + "\r\nb\n";
    EXPECT_EQ(without_marks(read_backwards(text, 4096)), "a\n" + long_line + "\nb\n");
}

TEST(StretchReader, AFailureToReadEndsTheReportWithIt) {
    // A directory opens, but cannot be read.
    int directory = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory, 0);
    StretchReader reader(directory, "report", 16, report_size(directory, "report"));
    Stretch stretch = reader.read(0);
    close(directory);
    EXPECT_TRUE(stretch.lines.empty());
    EXPECT_TRUE(stretch.last);
    ASSERT_TRUE(stretch.failure);
    try {
        std::rethrow_exception(stretch.failure);
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::io);
        EXPECT_NE(std::string(failure.what()).find("cannot read report 'report'"), std::string::npos);
    }
}

// Another process cuts the file short, or writes more to it, once reading
// has begun: the stretch that finds it fails, after the lines it read whole.
TEST(StretchReader, FileCutShortOrGrownWhileBeingReadFailsAfterTheWholeLines) {
    const std::string text = "one\ntwo\nthree\nfour\nfive\nsix\n";  // "five" starts at 19, "six" at 24
    const std::string cut_short = "cannot read report 'report': the report was cut short while being read";
    const std::string grew = "cannot read report 'report': the report grew while being read";
    struct Case {
        const char* what;
        long new_size;  // -1: `appended` is written at the end instead
        std::string appended;
        std::uint64_t stretch;
        std::string lines;
        const std::string& message;
    };
    const Case cases[] = {
        {"cut inside a line", 21, "", 2, "", cut_short},
        {"cut at a line end", 24, "", 2, "five\n", cut_short},
        {"cut inside the next stretch", 26, "", 2, "five\n", cut_short},
        {"cut before the stretch", 10, "", 2, "", cut_short},
        {"cut to nothing", 0, "", 1, "", cut_short},
        {"grown by whole lines", -1, "seven\n", 3, "six\n", grew},
        {"grown by a line end", -1, "\n", 3, "six\n", grew},
    };
    for (const Case& c : cases) {
        TextFile file(text);
        // The reader is made, knowing the size, before the change; it has read nothing yet.
        StretchReader reader(file.descriptor(), "report", 8, text.size());
        if (c.new_size >= 0) {
            ASSERT_EQ(ftruncate(file.descriptor(), c.new_size), 0);
        } else {
            ASSERT_EQ(pwrite(file.descriptor(), c.appended.data(), c.appended.size(), static_cast<off_t>(text.size())),
                      static_cast<ssize_t>(c.appended.size()));
        }
        Stretch stretch = reader.read(c.stretch);
        EXPECT_EQ(stretch.lines.text(), c.lines) << c.what;
        EXPECT_TRUE(stretch.last) << c.what;
        ASSERT_TRUE(stretch.failure) << c.what;
        try {
            std::rethrow_exception(stretch.failure);
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind, FailureKind::io) << c.what;
            EXPECT_EQ(std::string(failure.what()).substr(0, c.message.size()), c.message) << c.what;
        }
    }
    // A file that keeps its size reads to its end, however it is read.
    TextFile file(text);
    StretchReader reader(file.descriptor(), "report", 8, text.size());
    Stretch last = reader.read(3);
    EXPECT_EQ(last.lines.text(), "six\n");
    EXPECT_TRUE(last.last);
    EXPECT_FALSE(last.failure);
}

TEST(StretchReader, OnlyLargePlainRegularFilesAreReadInStretches) {
    TextFile plain(std::string(100, 'a'));
    EXPECT_TRUE(reads_in_stretches(plain.descriptor(), 100));
    EXPECT_FALSE(reads_in_stretches(plain.descriptor(), 101));
    TextFile gzip(std::string("\x1f\x8b") + std::string(100, 'a'));
    EXPECT_FALSE(reads_in_stretches(gzip.descriptor(), 1));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_FALSE(reads_in_stretches(ends[0], 0));
    close(ends[0]);
    close(ends[1]);
}

}  // namespace
}  // namespace hittab::tests
