// psiblast's rounds: each round's rows under its own "# Iteration:" line,
// read from the whole report, in pieces and through every packed form;
// and how a piece read ahead of its turn is checked against the round, or
// anything else of the run, that the reading in turn has reached.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hsp_conversion.hpp"
#include "hsptab/field_writer.hpp"
#include "hsptab/layout_reader.hpp"
#include "kernel.hpp"
#include "memory_streams.hpp"
#include "padded_text.hpp"
#include "row_output.hpp"

namespace hittab::tests {
namespace {

// psiblast -num_iterations 3 of two queries, each converging after two
// rounds, as BLAST+ 2.12.0 writes it (its references and closing
// statistics left out, one alignment a round).
const std::string psiblast_report =
    "PSIBLAST 2.12.0+\n"
    "\n\n"
    "Database: db.fa\n"
    "           4 sequences; 738 total letters\n"
    "\n"
    "Results from round 1\n"
    "\n\n"
    "Query= q1 query protein\n"
    "\n"
    "Length=41\n"
    "                                                                      Score     E\n"
    "Sequences producing significant alignments:                          (Bits)  Value\n"
    "\n"
    "p3 distant                                                            82.0    8e-27\n"
    "p1 kinase one                                                         84.7    1e-26\n"
    "\n\n"
    ">p3 distant\n"
    "Length=129\n"
    "\n"
    " Score = 82.0 bits (201),  Expect = 8e-27, Method: Compositional matrix adjust.\n"
    " Identities = 38/41 (93%), Positives = 41/41 (100%), Gaps = 0/41 (0%)\n"
    "\n"
    "Query  1   MKTAYIAKQRQISFVKSHFSRQLEERLGLIEVQAPILSRVG  41\n"
    "           MKTAY+AKQRQISFVK+HFSRQLEERLGLIEVQAP+LSRVG\n"
    "Sbjct  1   MKTAYLAKQRQISFVKAHFSRQLEERLGLIEVQAPVLSRVG  41\n"
    "\n\n\n"
    "Lambda      K        H        a         alpha\n"
    "   0.324    0.135    0.356    0.792     4.96 \n"
    "\n"
    "Gapped\n"
    "Lambda      K        H        a         alpha    sigma\n"
    "   0.267   0.0410    0.140     1.90     42.6     43.6 \n"
    "\n"
    "Effective search space used: 18414\n"
    "Results from round 2\n"
    "\n\n"
    "Query= q1 query protein\n"
    "\n"
    "Length=41\n"
    "                                                                      Score     E\n"
    "Sequences producing significant alignments:                          (Bits)  Value\n"
    "Sequences used in model and found again:\n"
    "\n"
    "p2 kinase two                                                         83.9    3e-26\n"
    "p1 kinase one                                                         82.4    8e-26\n"
    "\n"
    "Sequences not found previously or not previously below threshold:\n"
    "\n\n\n"
    ">p2 kinase two\n"
    "Length=274\n"
    "\n"
    " Score = 83.9 bits (206),  Expect = 3e-26, Method: Composition-based stats.\n"
    " Identities = 41/41 (100%), Positives = 41/41 (100%), Gaps = 0/41 (0%)\n"
    "\n"
    "Query  1   MKTAYIAKQRQISFVKSHFSRQLEERLGLIEVQAPILSRVG  41\n"
    "           MKTAYIAKQRQISFVKSHFSRQLEERLGLIEVQAPILSRVG\n"
    "Sbjct  1   MKTAYIAKQRQISFVKSHFSRQLEERLGLIEVQAPILSRVG  41\n"
    "\n\n\n"
    "Lambda      K        H        a         alpha\n"
    "   0.320    0.141    0.398    0.792     4.96 \n"
    "\n"
    "Gapped\n"
    "Lambda      K        H        a         alpha    sigma\n"
    "   0.267   0.0431    0.140     1.90     42.6     43.6 \n"
    "\n"
    "Effective search space used: 18414\n"
    "\n"
    "Search has CONVERGED!\n"
    "Results from round 1\n"
    "\n\n"
    "Query= q2 other\n"
    "\n"
    "Length=40\n"
    "                                                                      Score     E\n"
    "Sequences producing significant alignments:                          (Bits)  Value\n"
    "\n"
    "p4 unrelated                                                          89.4    3e-30\n"
    "\n\n"
    ">p4 unrelated\n"
    "Length=84\n"
    "\n"
    " Score = 89.4 bits (220),  Expect = 3e-30, Method: Compositional matrix adjust.\n"
    " Identities = 40/40 (100%), Positives = 40/40 (100%), Gaps = 0/40 (0%)\n"
    "\n"
    "Query  1   MSEQNNTEMTFQIQRIYTKDISFEAPNAPHVFQKDWQPEV  40\n"
    "           MSEQNNTEMTFQIQRIYTKDISFEAPNAPHVFQKDWQPEV\n"
    "Sbjct  1   MSEQNNTEMTFQIQRIYTKDISFEAPNAPHVFQKDWQPEV  40\n"
    "\n\n\n"
    "Lambda      K        H        a         alpha\n"
    "   0.315    0.127    0.384    0.792     4.96 \n"
    "\n"
    "Gapped\n"
    "Lambda      K        H        a         alpha    sigma\n"
    "   0.267   0.0410    0.140     1.90     42.6     43.6 \n"
    "\n"
    "Effective search space used: 18522\n"
    "Results from round 2\n"
    "\n\n"
    "Query= q2 other\n"
    "\n"
    "Length=40\n"
    "                                                                      Score     E\n"
    "Sequences producing significant alignments:                          (Bits)  Value\n"
    "Sequences used in model and found again:\n"
    "\n"
    "p4 unrelated                                                          89.0    4e-30\n"
    "\n"
    "Sequences not found previously or not previously below threshold:\n"
    "\n\n\n"
    ">p4 unrelated\n"
    "Length=84\n"
    "\n"
    " Score = 89.0 bits (219),  Expect = 4e-30, Method: Composition-based stats.\n"
    " Identities = 40/40 (100%), Positives = 40/40 (100%), Gaps = 0/40 (0%)\n"
    "\n"
    "Query  1   MSEQNNTEMTFQIQRIYTKDISFEAPNAPHVFQKDWQPEV  40\n"
    "           MSEQNNTEMTFQIQRIYTKDISFEAPNAPHVFQKDWQPEV\n"
    "Sbjct  1   MSEQNNTEMTFQIQRIYTKDISFEAPNAPHVFQKDWQPEV  40\n"
    "\n\n\n"
    "Lambda      K        H        a         alpha\n"
    "   0.321    0.130    0.388    0.792     4.96 \n"
    "\n"
    "Gapped\n"
    "Lambda      K        H        a         alpha    sigma\n"
    "   0.267   0.0398    0.140     1.90     42.6     43.6 \n"
    "\n"
    "Effective search space used: 18522\n"
    "\n"
    "Search has CONVERGED!\n"
    "\n\n"
    "  Database: db.fa\n"
    "    Posted date:  Dec 9, 2026  1:34 PM\n"
    "  Number of letters in database: 164\n"
    "  Number of sequences in database:  4\n"
    "\n\n\n"
    "Matrix: BLOSUM62\n"
    "Gap Penalties: Existence: 11, Extension: 1\n";

const std::string psiblast_comments =
    "# PSIBLAST 2.12.0+\n# Iteration: 1\n# Query: q1 query protein\n# Database: db.fa\n"
    "# Fields: query id, subject id, % identity, alignment length, mismatches, gap opens, q. start, q. end, s. start, "
    "s. end, evalue, bit score\n# 1 hits found\n"
    "q1\tp3\t92.683\t41\t3\t0\t1\t41\t1\t41\t8e-27\t82.0\n"
    "# PSIBLAST 2.12.0+\n# Iteration: 2\n# Query: q1 query protein\n# Database: db.fa\n"
    "# Fields: query id, subject id, % identity, alignment length, mismatches, gap opens, q. start, q. end, s. start, "
    "s. end, evalue, bit score\n# 1 hits found\n"
    "q1\tp2\t100.000\t41\t0\t0\t1\t41\t1\t41\t3e-26\t83.9\n"
    "# PSIBLAST 2.12.0+\n# Iteration: 1\n# Query: q2 other\n# Database: db.fa\n"
    "# Fields: query id, subject id, % identity, alignment length, mismatches, gap opens, q. start, q. end, s. start, "
    "s. end, evalue, bit score\n# 1 hits found\n"
    "q2\tp4\t100.000\t40\t0\t0\t1\t40\t1\t40\t3e-30\t89.4\n"
    "# PSIBLAST 2.12.0+\n# Iteration: 2\n# Query: q2 other\n# Database: db.fa\n"
    "# Fields: query id, subject id, % identity, alignment length, mismatches, gap opens, q. start, q. end, s. start, "
    "s. end, evalue, bit score\n# 1 hits found\n"
    "q2\tp4\t100.000\t40\t0\t0\t1\t40\t1\t40\t4e-30\t89.0\n"
    "# BLAST processed 4 queries\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(Psiblast, EachRoundsRowsUnderItsIteration) {
    HspOutcome outcome = convert_hsps(psiblast_report, "std", true);
    EXPECT_FALSE(outcome.failed) << outcome.message;
    EXPECT_EQ(outcome.table, psiblast_comments);
    for (std::size_t stretch_size : {1, 7, 300, 1000, 4096}) {
        EXPECT_EQ(convert_hsps_in_stretches(psiblast_report, "std", true, stretch_size).table, psiblast_comments)
            << "stretch size " << stretch_size;
    }
}

// The round line's number, however many digits, wherever the line comes
// between queries: after a blank line, straight after the statistics, or
// as the first line after the database; rounds start again at 1 for each
// query. Only the comments say the round: the rows stay as they are.
TEST(Psiblast, RoundLinesWhereverBlastPutsThem) {
    struct Case {
        const char* what;
        std::string report;
        std::vector<std::string> iterations;
    };
    const Case cases[] = {
        {"as psiblast writes them", psiblast_report, {"1", "2", "1", "2"}},
        {"round numbers of two and three digits",
         replaced(replaced(psiblast_report, "round 2\n", "round 12\n"), "round 1\n", "round 100\n"),
         {"100", "12", "100", "12"}},
        {"a blank line before each",
         replaced(psiblast_report, "Effective search space used: 18414\nResults",
                  "Effective search space used: 18414\n\nResults"),
         {"1", "2", "1", "2"}},
        {"no round line before the second query",
         replaced(psiblast_report, "Search has CONVERGED!\nResults from round 1\n", "Search has CONVERGED!\n"),
         {"1", "2", "2", "2"}},
    };
    for (const Case& c : cases) {
        HspOutcome outcome = convert_hsps(c.report, "std", true);
        EXPECT_FALSE(outcome.failed) << c.what << ": " << outcome.message;
        std::vector<std::string> iterations;
        for (std::size_t at = outcome.table.find("# Iteration: "); at != std::string::npos;
             at = outcome.table.find("# Iteration: ", at + 1)) {
            std::size_t begin = at + 13;
            iterations.push_back(outcome.table.substr(begin, outcome.table.find('\n', begin) - begin));
        }
        EXPECT_EQ(iterations, c.iterations) << c.what;
        EXPECT_EQ(convert_hsps(c.report, "std", false).table, convert_hsps(psiblast_report, "std", false).table)
            << c.what;
    }
}

// A piece read ahead of its turn assumes the run that the reading in turn
// had reached when the piece began; the reading in turn may have read on
// since. Every field of the run but its count of queries decides whether
// the piece's rows stand.
TEST(Pieces, EveryFieldOfTheRunButItsQueriesDecidesWhetherAPieceStands) {
    hsptab::Run run;
    run.program_line = "PSIBLAST 2.12.0+";
    run.kind = hsptab::SearchKind::protein;
    run.database = "db.fa";
    run.round = 2;
    run.queries = 5;
    struct Change {
        const char* what;
        void (*change)(hsptab::Run&);
        bool same;
    };
    const Change changes[] = {
        {"nothing", [](hsptab::Run&) {}, true},
        {"the count of queries", [](hsptab::Run& r) { r.queries = 0; }, true},
        {"the program line", [](hsptab::Run& r) { r.program_line = "PSIBLAST 2.13.0+"; }, false},
        {"the kind of search", [](hsptab::Run& r) { r.kind = hsptab::SearchKind::translated_query; }, false},
        {"the database", [](hsptab::Run& r) { r.database = "other"; }, false},
        {"legacy", [](hsptab::Run& r) { r.legacy = true; }, false},
        {"profiles", [](hsptab::Run& r) { r.profiles = true; }, false},
        {"subjects given", [](hsptab::Run& r) { r.subjects_given = true; }, false},
        {"the round", [](hsptab::Run& r) { r.round = 3; }, false},
    };
    for (const Change& c : changes) {
        hsptab::Run changed = run;
        c.change(changed);
        EXPECT_EQ(hsptab::RunState{run} == hsptab::RunState{changed}, c.same) << c.what;
        EXPECT_EQ(hsptab::RunState{run} != hsptab::RunState{changed}, !c.same) << c.what;
    }
}

// The layout reader over `text`, as a piece of its own, to its end.
struct PieceReading {
    explicit PieceReading(const std::string& text, const hsptab::RunState* assumed = nullptr)
        : output(memory.stream(), "table"),
          writer(hsptab::parse_fields("std"), output, true, false),
          layout("report", writer, best_kernel()),
          buffer(PaddedBuffer::copy_of(text)) {
        if (assumed != nullptr) layout.start_piece(*assumed);
        layout.read_lines(buffer.whole(), lines);
        layout.end_before_query(lines + 1);
    }

    // The table, once the reading is over.
    std::string table() {
        output.close();
        return memory.text();
    }

    MemoryTable memory;
    RowOutput output;
    hsptab::FieldWriter writer;
    hsptab::LayoutReader layout;
    PaddedBuffer buffer;
    std::uint64_t lines = 0;
};

// The report cut before a query line: what the reading in turn reads, and
// the piece after it.
TEST(Pieces, APieceStandsOnlyWhereTheRoundItAssumedIsTheOneReached) {
    const std::string second_round = "Results from round 2\n";
    const std::size_t cut = psiblast_report.find("Query=", psiblast_report.find(second_round));
    const std::size_t first_cut = psiblast_report.find("Query=");
    ASSERT_NE(cut, std::string::npos);

    // Up to the first query: round 1 is open. Up to the second: the round
    // line before it has opened round 2.
    PieceReading header(psiblast_report.substr(0, first_cut));
    PieceReading in_turn(psiblast_report.substr(0, cut));
    ASSERT_TRUE(header.layout.run_state().has_value());
    ASSERT_TRUE(in_turn.layout.run_state().has_value());
    hsptab::RunState round_one = *header.layout.run_state();
    hsptab::RunState round_two = *in_turn.layout.run_state();
    EXPECT_EQ(round_one.run.round, 1u);
    EXPECT_EQ(round_two.run.round, 2u);

    // A piece read ahead with the round reached stands; one read ahead
    // with the round before does not, and is read again in turn.
    const std::string piece = psiblast_report.substr(cut);
    PieceReading stale(piece, &round_one);
    PieceReading fresh(piece, &round_two);
    EXPECT_EQ(stale.layout.programs_read(), 0u);
    EXPECT_NE(stale.table().find("# Iteration: 1\n# Query: q1"), std::string::npos);
    EXPECT_NE(fresh.table().find("# Iteration: 2\n# Query: q1"), std::string::npos);
    EXPECT_FALSE(in_turn.layout.continues_with(round_one));
    EXPECT_TRUE(in_turn.layout.continues_with(round_two));
    EXPECT_FALSE(header.layout.continues_with(round_two));
}

// An alignment or a query still open where a piece begins leaves nothing
// a piece can go on from.
TEST(Pieces, NoPieceGoesOnFromAnOpenQueryOrAlignment) {
    const std::size_t cut = psiblast_report.find("Query=", psiblast_report.find("Results from round 2\n"));
    MemoryTable memory;
    RowOutput output(memory.stream(), "table");
    hsptab::FieldWriter writer(hsptab::parse_fields("std"), output, false, false);
    hsptab::LayoutReader layout("report", writer, best_kernel());
    PaddedBuffer buffer = PaddedBuffer::copy_of(psiblast_report.substr(0, cut));
    std::uint64_t lines = 0;
    layout.read_lines(buffer.whole(), lines);
    hsptab::RunState reached = *layout.run_state();
    EXPECT_FALSE(layout.continues_with(reached)) << "the query is still open";
    layout.end_before_query(lines + 1);
    EXPECT_TRUE(layout.continues_with(reached));
}

// A piece that begins at a subject's title assumes the query open there as
// well as the run. The reading in turn, cut before such a title, must have
// that very query open, in a place where a title begins a subject, for the
// piece's rows to stand.
TEST(Pieces, APieceBegunAtATitleStandsOnlyInTheQueryItAssumed) {
    const std::string alignment =
        " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 10/10 (100%), Gaps = 0/10 (0%)\n"
        " Strand=Plus/Plus\n\nQuery  1   ACGTACGTAC  10\n           ||||||||||\nSbjct  1   ACGTACGTAC  10\n\n\n";
    const std::string blast_plus =
        "BLASTN 2.12.0+\n\n\nDatabase: db\n\n\nQuery= q1 first\n\nLength=40\n\n"
        "Sequences producing significant alignments:    (Bits)  Value\n\n"
        "s1 one    30.0   1e-05\ns2 two    30.0   1e-05\n\n\n>s1 one\nLength=100\n\n" +
        alignment + ">s2 two\nLength=100\n\n" + alignment +
        "Query= q2 a definition wrapped onto a line\n>that begins as a title\n\nLength=40\n";
    const std::string web =
        "Program: BLASTN \nDatabase: nt\nQuery #1: q1 first Query ID: lcl|Query_1 Length: 40\n\n"
        "Alignments:\n\n>subject one\nSequence ID: S1.1 Length: 100\n>an identical subject\n"
        "Sequence ID: S9.1 Length: 100\nRange 1: 1 to 10\n";
    struct Case {
        const char* what;
        const std::string& report;
        std::string cut_before;  // the title the piece begins with
        bool stands;
        bool alignment_open = false;  // until the title ends it
    };
    const Case cases[] = {
        {"after the list of subjects", blast_plus, ">s1 one", true},
        {"after an alignment", blast_plus, ">s2 two", true, true},
        {"inside a query's definition", blast_plus, ">that begins", false},
        {"among the web page's titles of one subject", web, ">an identical", false},
    };
    for (const Case& c : cases) {
        MemoryTable memory;
        RowOutput output(memory.stream(), "table");
        hsptab::FieldWriter writer(hsptab::parse_fields("std"), output, false, false);
        hsptab::LayoutReader layout("report", writer, best_kernel());
        PaddedBuffer buffer = PaddedBuffer::copy_of(c.report.substr(0, c.report.find(c.cut_before)));
        std::uint64_t lines = 0;
        layout.read_lines(buffer.whole(), lines);
        ASSERT_TRUE(layout.run_state().has_value()) << c.what;
        hsptab::RunState run = *layout.run_state();
        hsptab::Query q1;
        q1.definition = "q1 first";
        q1.id = "q1";
        q1.length = 40;
        if (c.alignment_open) {
            EXPECT_FALSE(layout.continues_in_query_with(run, q1)) << c.what;
        }
        layout.end_before_subject(lines + 1);
        std::optional<hsptab::Query> open = layout.open_query();
        EXPECT_EQ(open.has_value() && hsptab::same_query(*open, q1), c.stands) << c.what;
        EXPECT_EQ(layout.continues_in_query_with(run, q1), c.stands) << c.what;
        // Any other query, or the same in another round, is not the one open.
        hsptab::Query other = q1;
        other.length = 41;
        hsptab::Query later_round = q1;
        later_round.round = 2;
        EXPECT_FALSE(layout.continues_in_query_with(run, other)) << c.what;
        EXPECT_FALSE(layout.continues_in_query_with(run, later_round)) << c.what;
        hsptab::RunState other_run = run;
        other_run.run.database = "other";
        EXPECT_FALSE(layout.continues_in_query_with(other_run, q1)) << c.what;
        // A query line, not a title, is what a piece begun at a query waits for.
        EXPECT_FALSE(layout.continues_with(run)) << c.what;
    }
}

}  // namespace
}  // namespace hittab::tests
