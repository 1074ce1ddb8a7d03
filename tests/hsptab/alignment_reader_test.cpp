// An alignment's lines in every shape: the usual BLAST+ blocks, legacy
// lines with a colon, spaces after the end, a last line without its line
// feed, gaps across lines, and the lines that break an alignment. Read
// with every kernel's masks, with the quick readers and without: the same
// counts, the same end and the same failure either way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failure.hpp"
#include "hsp_conversion.hpp"
#include "hsptab/alignment_reader.hpp"
#include "hsptab/hsp_lines.hpp"
#include "kernels.hpp"
#include "padded_text.hpp"

namespace hittab::tests {
namespace {

struct Outcome {
    std::uint64_t query_start = 0, query_end = 0, subject_start = 0, subject_end = 0;
    std::uint64_t aligned = 0, counted_gaps = 0, gap_opens = 0, query_letters = 0;
    std::string query_sequence, subject_sequence;
    std::size_t stopped_at = 0;  // where the first other line begins
    std::uint64_t line_number = 0;
    std::string failure;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.query_start == b.query_start && a.query_end == b.query_end && a.subject_start == b.subject_start &&
           a.subject_end == b.subject_end && a.aligned == b.aligned && a.counted_gaps == b.counted_gaps &&
           a.gap_opens == b.gap_opens && a.query_letters == b.query_letters && a.query_sequence == b.query_sequence &&
           a.subject_sequence == b.subject_sequence && a.stopped_at == b.stopped_at && a.line_number == b.line_number &&
           a.failure == b.failure;
}

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "query " << o.query_start << "-" << o.query_end << ", subject " << o.subject_start << "-"
               << o.subject_end << ", aligned " << o.aligned << ", gaps " << o.counted_gaps << ", opens " << o.gap_opens
               << ", query letters " << o.query_letters << ", sequences " << o.query_sequence << "/"
               << o.subject_sequence << ", stopped at " << o.stopped_at << ", line " << o.line_number << ", failure \""
               << o.failure << "\"";
}

// `lines` read as the alignment of an HSP whose Identities line gave
// `length` columns (and `gaps`, where `has_gaps_line`).
Outcome read(const Kernel& kernel, const std::string& lines, std::uint64_t length, bool keep_sequences,
             bool has_gaps_line = false, std::uint64_t gaps = 0) {
    PaddedBuffer buffer = PaddedBuffer::copy_of(lines);
    PaddedView text = buffer.whole();
    std::size_t windows = (text.size() + 63) / 64;
    std::vector<AlignmentMasks> masks(windows + 1, AlignmentMasks{0, 0, 0});
    kernel.mark_alignment_bytes(text, masks.data());
    masks[windows] = AlignmentMasks{0, 0, 0};
    hsptab::MarkedLines marked{text.data(), masks.data(), windows};
    hsptab::Hsp hsp;
    hsp.length = length;
    hsp.has_gaps_line = has_gaps_line;
    hsp.gaps = gaps;
    hsptab::AlignmentProgress progress;
    progress.keep_sequences = keep_sequences;
    Outcome outcome;
    std::uint64_t line_number = 0;
    try {
        const char* stop =
            hsptab::read_alignment(marked, text.data(), text.data() + text.size(), line_number, hsp, progress);
        outcome.stopped_at = static_cast<std::size_t>(stop - text.data());
    } catch (const Failure& failure) {
        outcome.failure = failure.what();
        line_number = failure.line_number;
    }
    outcome.line_number = line_number;
    outcome.query_start = hsp.query_start;
    outcome.query_end = hsp.query_end;
    outcome.subject_start = hsp.subject_start;
    outcome.subject_end = hsp.subject_end;
    outcome.aligned = hsp.aligned;
    outcome.counted_gaps = hsp.counted_gaps;
    outcome.gap_opens = hsp.gap_opens;
    outcome.query_letters = hsp.query_letters;
    outcome.query_sequence = hsp.query_sequence;
    outcome.subject_sequence = hsp.subject_sequence;
    return outcome;
}

struct Case {
    const char* what;
    std::string lines;
    std::uint64_t length;
    Outcome expected;  // its sequences only where they are kept
};

const std::string two_blocks =
    "Query  1   ACGT-ACGTA  9\n"
    "           |||| |||||\n"
    "Sbjct  11  ACGTTACG--  18\n"
    "\n"
    "Query  10  --GTACGTAC  17\n"
    "             ||||||||\n"
    "Sbjct  19  TTGTACGTAC  28\n"
    "\n\n";

// Where a gap fills a whole line, BLAST writes that line without coordinates.
const std::string line_of_gaps =
    "Query  1   ACGTACGTAC  10\n"
    "           ||||||||||\n"
    "Sbjct  1   ACGTACGTAC  10\n"
    "\n"
    "Query  11  GGGGGGGGGG  20\n"
    "                      \n"
    "Sbjct      ----------  \n"
    "\n"
    "Query  21  ACGTACGTAC  30\n"
    "           ||||||||||\n"
    "Sbjct  11  ACGTACGTAC  20\n"
    "\n";

const std::string query_line_of_gaps =
    "Query  1   ACGT  4\n           ||||\nSbjct  1   ACGT  4\n\nQuery       ----  \n\nSbjct  5   ACGT  8\n\n"
    "Query  5   ACGT  8\n           ||||\nSbjct  9   ACGT  12\n\n";

const Case cases[] = {
    {"two usual blocks, gaps across their lines", two_blocks, 20, {1, 17, 11, 28, 20, 5, 3, 17, "", "", 150, 9, ""}},
    {"the blocks, then the next alignment's Score line",
     two_blocks + " Score = 1 bits (1),  Expect = 1\n",
     20,
     {1, 17, 11, 28, 20, 5, 3, 17, "", "", 150, 9, ""}},
    {"legacy lines with a colon and spaces after the end",
     "Query: 5   acgtACGT 12 \n           ||||||||\nSbjct: 80  ACGTACGT 73\n\n",
     8,
     {5, 12, 80, 73, 8, 0, 0, 8, "", "", 68, 4, ""}},
    {"a last line without its line feed",
     "Query  1   ACGT  4\n           ||||\nSbjct  1   ACGT  4",
     4,
     {1, 4, 1, 4, 4, 0, 0, 4, "", "", 54, 3, ""}},
    {"a Sbjct line without its Query line",
     "Sbjct  1   ACGT  4\n",
     4,
     {0, 0, 0, 0, 0, 0, 0, 0, "", "", 0, 1, "a Sbjct line without its Query line"}},
    {"a Query line where its Sbjct line should be",
     "Query  1   ACGT  4\nQuery  5   ACGT  8\n",
     8,
     {1, 4, 0, 0, 0, 0, 0, 4, "", "", 0, 2, "a Query line where its Sbjct line should be"}},
    {"residues that do not line up",
     "Query  1   ACGT  4\n           ||||\nSbjct  1   ACG  3\n",
     4,
     {1, 4, 0, 0, 0, 0, 0, 4, "", "", 0, 3, "a Sbjct line whose residues do not line up with its Query line"}},
    {"no end coordinate",
     "Query  1   ACGT\n",
     4,
     {0, 0, 0, 0, 0, 0, 0, 0, "", "", 0, 1, "an alignment line that is not \"Query START RESIDUES END\""}},
    {"an alignment before its Identities line",
     "Query  1   ACGT  4\n",
     0,
     {0, 0, 0, 0, 0, 0, 0, 0, "", "", 0, 1, "an alignment before its Identities line"}},
    {"a Sbjct line of gaps only, without coordinates",
     line_of_gaps,
     30,
     {1, 30, 1, 20, 30, 10, 1, 30, "", "", line_of_gaps.size(), 12, ""}},
    {"a Query line of gaps only",
     query_line_of_gaps,
     12,
     {1, 8, 1, 12, 12, 4, 1, 8, "", "", query_line_of_gaps.size(), 12, ""}},
    {"an alignment that begins with a line of gaps",
     "Query       ----  \n\nSbjct  1   ACGT  4\n",
     4,
     {0, 0, 0, 0, 0, 0, 0, 0, "", "", 0, 1, "an alignment that begins with a line of gaps"}},
    {"a line of gaps holding a letter",
     "Query  1   ACGT  4\n           ||||\nSbjct      -A--  \n",
     4,
     {1, 4, 0, 0, 0, 0, 0, 4, "", "", 0, 3, "an alignment line that is not \"Sbjct START RESIDUES END\""}},
};

using AlignmentShapes = EachKernel;

TEST_P(AlignmentShapes, ReadTheSameWithAndWithoutTheQuickReaders) {
    for (const Case& c : cases) {
        for (bool quick : {true, false}) {
            QuickReaders switched(quick);
            EXPECT_EQ(read(kernel(), c.lines, c.length, false), c.expected) << c.what << (quick ? "" : ", general");
        }
    }
}

// With the sequences kept, each line is read alone: the same counts, and
// the residues in upper case, as BLAST's table has them.
TEST_P(AlignmentShapes, SequencesKeptLineByLine) {
    Outcome expected = cases[0].expected;
    expected.query_sequence = "ACGT-ACGTA--GTACGTAC";
    expected.subject_sequence = "ACGTTACG--TTGTACGTAC";
    Outcome legacy = cases[2].expected;
    legacy.query_sequence = legacy.subject_sequence = "ACGTACGT";
    for (bool quick : {true, false}) {
        QuickReaders switched(quick);
        EXPECT_EQ(read(kernel(), two_blocks, 20, true), expected) << (quick ? "quick" : "general");
        EXPECT_EQ(read(kernel(), cases[2].lines, 8, true), legacy) << (quick ? "quick" : "general");
    }
}

// An Identities line that counts no gaps needs no count of them.
TEST_P(AlignmentShapes, NoGapsCountedWhereTheIdentitiesLineSaysNone) {
    Outcome expected = cases[0].expected;
    expected.counted_gaps = expected.gap_opens = 0;
    expected.query_letters = 20;  // every column, as no gap was counted
    for (bool quick : {true, false}) {
        QuickReaders switched(quick);
        EXPECT_EQ(read(kernel(), two_blocks, 20, false, true, 0), expected) << (quick ? "quick" : "general");
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, AlignmentShapes, ::testing::ValuesIn(kernel_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace hittab::tests
