// Reading in pieces on two threads gives the table, failure and line number
// of reading from start to end: for runs of many queries, runs one after
// another, rounds, reports that break anywhere, pieces whose rows are too
// many to hold ahead of their turn, and every line end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "failure.hpp"
#include "hsp_conversion.hpp"
#include "hsptab/stretch_conversion.hpp"
#include "memory_streams.hpp"
#include "row_output.hpp"
#include "scratch_dir.hpp"
#include "shared_reports.hpp"

namespace hittab::tests {
namespace {

const std::string all_fields =
    "qseqid qlen sseqid stitle slen pident length mismatch gapopen gaps nident positive ppos qstart qend sstart "
    "send qframe sframe frames sstrand evalue bitscore score qcovhsp btop qseq sseq";

std::string run_header(const std::string& program, const std::string& database) {
    return program + "\n\n\nReference: Zheng Zhang, Scott Schwartz, Lukas Wagner, and Webb\n\n\nDatabase: " + database +
           "\n           2 sequences; 200 total letters\n\n\n\n";
}

const std::string& run_footer = blast_plus_closing;

// Query `number`: with `hsps` alignments of one subject whose title is
// `title`, or without hits when `hsps` is 0.
std::string query(int number, int hsps, const std::string& title = "subject with a title") {
    std::string name = "q" + std::to_string(number);
    std::string text = "Query= " + name + " query number " + std::to_string(number) + "\n\nLength=40\n";
    if (hsps == 0) return text + "\n\n***** No hits found *****\n\n\n\n";
    text += "\n>s" + std::to_string(number) + " " + title + "\nLength=100\n\n";
    for (int i = 0; i < hsps; ++i) {
        text += " Score = 30.0 bits (32),  Expect = 1e-0" + std::to_string(i % 10) + "\n";
        text += " Identities = 18/20 (90%), Gaps = 1/20 (5%)\n Strand=Plus/" + std::string(i % 2 ? "Minus" : "Plus") +
                "\n\n";
        text += "Query  1   ACGTACGTAC-TACGTACGT  19\n           |||||||||| ||||| |||\n";
        text += i % 2 ? "Sbjct  30  ACGTACGTACGTACGTTCGT  11\n\n\n" : "Sbjct  11  ACGTACGTACGTACGTTCGT  30\n\n\n";
    }
    return text + "\nLambda      K        H\n    1.33    0.621     1.12 \n\nEffective search space used: 2772145\n\n\n";
}

// One run of `count` queries, every fourth without hits.
std::string many_queries(int count, const std::string& program = "BLASTN 2.12.0+", const std::string& database = "db") {
    std::string report = run_header(program, database);
    for (int i = 0; i < count; ++i) report += query(i, i % 4 == 3 ? 0 : 1 + i % 3);
    return report + run_footer;
}

std::string with_line_ends(const std::string& text, const std::string& line_end) {
    std::string result;
    for (char c : text) c == '\n' ? result += line_end : result += c;
    return result;
}

void expect_same_in_pieces(const std::string& report, const std::vector<std::size_t>& stretch_sizes,
                           const std::string& what) {
    for (bool comments : {false, true}) {
        for (const std::string& fields : {std::string("std"), all_fields}) {
            HspOutcome expected = convert_hsps_as_given(report, fields, comments, default_block_size);
            for (std::size_t stretch_size : stretch_sizes) {
                HspOutcome outcome = convert_hsps_in_stretches(report, fields, comments, stretch_size);
                EXPECT_EQ(outcome.table, expected.table) << what << ", stretch size " << stretch_size;
                EXPECT_EQ(outcome.failed, expected.failed) << what << ", stretch size " << stretch_size;
                EXPECT_EQ(outcome.message, expected.message) << what << ", stretch size " << stretch_size;
                EXPECT_EQ(outcome.line_number, expected.line_number) << what << ", stretch size " << stretch_size;
                EXPECT_EQ(outcome.warning, expected.warning) << what << ", stretch size " << stretch_size;
            }
        }
    }
}

const std::vector<std::size_t> stretch_sizes = {1, 5, 64, 333, 4096, 65536};

// Query `number` listing `listed` subjects and showing the first `shown`,
// each with `hsps` alignments; `title` begins every subject's title.
std::string query_of_subjects(int number, int listed, int shown, int hsps, const std::string& title = "subject") {
    std::string text = "Query= q" + std::to_string(number) + " query number " + std::to_string(number) +
                       "\n\nLength=40\n\n\n                                                                      "
                       "Score     E\nSequences producing significant alignments:                          (Bits)  "
                       "Value\n\n";
    for (int s = 0; s < listed; ++s) text += "s" + std::to_string(s) + " " + title + "   30.0    1e-05\n";
    text += "\n\n";
    for (int s = 0; s < shown; ++s) {
        text += ">s" + std::to_string(s) + " " + title + "\nLength=100\n\n";
        for (int i = 0; i < hsps; ++i) {
            text += " Score = 30.0 bits (32),  Expect = 1e-0" + std::to_string((s + i) % 10) + "\n";
            text += " Identities = 18/20 (90%), Gaps = 1/20 (5%)\n Strand=Plus/Plus\n\n";
            text += "Query  1   ACGTACGTAC-TACGTACGT  19\n           |||||||||| ||||| |||\n";
            text += "Sbjct  " + std::to_string(11 + s % 50) + "  ACGTACGTACGTACGTTCGT  " + std::to_string(30 + s % 50) +
                    "\n\n\n";
        }
    }
    return text + "\nLambda      K        H\n    1.33    0.621     1.12 \n\nEffective search space used: 2772145\n\n\n";
}

TEST(StretchConversion, RunsOfManyQueriesConvertTheSame) {
    std::string one_run = many_queries(60);
    std::string other_program = many_queries(20, "TBLASTX 2.12.0+");
    std::string other_database = many_queries(20, "BLASTN 2.12.0+", "other");
    std::string rounds = many_queries(30);
    for (std::size_t at = rounds.find("Query= q5 "); at != std::string::npos; at = rounds.find("Query= q1", at + 30)) {
        rounds.insert(at, "Results from round " + std::to_string(at % 5 + 1) + "\n\n");
    }
    const std::pair<std::string, std::string> reports[] = {
        {"one run", one_run},
        {"the same run again", one_run + one_run},
        {"runs of other programs and databases", one_run + other_program + other_database + one_run},
        {"psiblast rounds", rounds},
        {"CR LF", with_line_ends(one_run + other_program, "\r\n")},
        {"lone CR", with_line_ends(other_database + one_run, "\r")},
        {"no query at all", run_header("BLASTP 2.12.0+", "db") + run_footer},
        {"queries before any program", query(1, 2) + one_run},
        {"a query line ending a title", one_run.substr(0, 3000) + ">s title\nQuery= cut\n" + one_run.substr(3000)},
    };
    for (const auto& [what, report] : reports) expect_same_in_pieces(report, stretch_sizes, what);
}

// Pieces begin at subjects' titles as well as at query lines: the query
// open goes on into the next piece, with its list of subjects.
TEST(StretchConversion, QueriesOfManySubjectsConvertTheSameWithPiecesBegunAtTitles) {
    std::string header = run_header("BLASTN 2.12.0+", "db");
    std::string one_query = header + query_of_subjects(1, 300, 300, 1) + run_footer;
    std::string fewer_shown = header + query_of_subjects(1, 80, 50, 2) + query_of_subjects(2, 40, 40, 1) +
                              query_of_subjects(3, 90, 10, 1) + run_footer;
    std::string rounds = header + "Results from round 1\n\n" + query_of_subjects(1, 60, 60, 1) +
                         "Results from round 2\n\n" + query_of_subjects(1, 70, 65, 1) + run_footer;
    // Titles wrapped onto lines that begin as other lines do.
    std::string wrapped = one_query;
    for (std::size_t at = wrapped.find(">s3 "); at != std::string::npos; at = wrapped.find(">s", at + 400)) {
        std::size_t line_end = wrapped.find('\n', at);
        wrapped.insert(line_end, at % 3 == 0 ? "\n>not a subject" : at % 3 == 1 ? "\nQuery= not a query" : "\n>");
    }
    std::string title_without_length = one_query;
    title_without_length.insert(title_without_length.find(">s7 "), ">s6b a title alone\n\n");
    std::string legacy = one_query;
    for (std::size_t at = legacy.find("\nLength=100"); at != std::string::npos; at = legacy.find("\nLength=100", at)) {
        legacy.replace(at, 11, "\n          Length = 100");
    }
    const std::pair<std::string, std::string> reports[] = {
        {"one query of 300 subjects", one_query},
        {"queries that show fewer subjects than they list", fewer_shown},
        {"psiblast rounds of many subjects", rounds},
        {"wrapped titles", wrapped},
        {"a title without its length", title_without_length},
        {"subject lengths as blastall writes them", legacy},
        {"CR LF", with_line_ends(fewer_shown, "\r\n")},
    };
    for (const auto& [what, report] : reports) expect_same_in_pieces(report, {1, 5, 64, 333, 4096}, what);
}

// Genuine reports of every layout (legacy blastall, early BLAST+, the web
// page's download) in pieces as small as a line.
TEST(StretchConversion, GenuineReportsConvertTheSameInPieces) {
    REQUIRE_SHARED_REPORTS();
    for (const auto& entry : std::filesystem::directory_iterator(shared_reports)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("text_", 0) != 0) continue;
        expect_same_in_pieces(read_file(entry.path().string()), {7, 200, 3000}, name);
    }
}

TEST(StretchConversion, ReportsThatBreakAnywhereFailTheSame) {
    std::string report = many_queries(12) + many_queries(6, "BLASTP 2.12.0+");
    // Cut short at many places: inside alignments, titles, definitions.
    for (std::size_t size = 7; size < report.size(); size += 211) {
        expect_same_in_pieces(report.substr(0, size), {5, 64, 1024}, "cut at " + std::to_string(size));
    }
    // A line that breaks the layout in a late query.
    std::string broken = many_queries(40);
    broken.insert(broken.rfind("Query= q3"), " Score = x bits\n");
    std::string broken_alignment = many_queries(40);
    broken_alignment.insert(broken_alignment.rfind("Sbjct  11"), "Sbjct  1 AC 2\n");
    expect_same_in_pieces(broken, {64, 4096}, "a Score line outside any subject");
    expect_same_in_pieces(broken_alignment, {64, 4096}, "a Sbjct line where a Query line should be");
}

// A report whose last line has no line end, cut at each of the last lines
// of its last alignment, with each kind of line end: rewriting CR LF and
// lone CR shortens the text, and the last line must end where it does.
TEST(StretchConversion, LastLineWithoutLineEndConvertsTheSameWithEveryLineEnd) {
    std::string report = many_queries(30);
    std::size_t last_alignment = report.rfind(" Score = ");
    std::size_t end = report.find("\n\n\n", report.rfind("Sbjct  "));
    std::vector<std::size_t> cuts = {end, end - 1};  // after the end coordinate, and inside it
    for (std::size_t at = report.find('\n', last_alignment); at < end; at = report.find('\n', at + 1)) {
        cuts.push_back(at);
    }
    for (const std::string line_end : {"\n", "\r\n", "\r"}) {
        for (std::size_t cut : cuts) {
            expect_same_in_pieces(
                with_line_ends(report.substr(0, cut), line_end), {5, 64, 4096},
                "line ends " + ::testing::PrintToString(line_end) + ", cut at " + std::to_string(cut));
        }
    }
}

// The file, cut short or grown by another process once reading has begun,
// is stood for by a size at the start other than the file's: the
// conversion fails as a read failure naming the report, after rows that
// begin the full table.
TEST(StretchConversion, ReportCutShortOrGrownWhileBeingReadFails) {
    const std::string report = many_queries(40);
    const std::string full = convert_hsps_as_given(report, "std", false, default_block_size).table;
    for (std::size_t at = 1; at < report.size(); at += 1543) {
        for (std::size_t stretch_size : {std::size_t{64}, std::size_t{4096}}) {
            HspOutcome cut = convert_hsps_in_stretches(report.substr(0, at), "std", false, stretch_size, best_kernel(),
                                                       report.size());
            HspOutcome grown = convert_hsps_in_stretches(report, "std", false, stretch_size, best_kernel(), at);
            const std::pair<HspOutcome, std::string> outcomes[] = {{cut, "was cut short"}, {grown, "grew"}};
            for (const auto& [outcome, how] : outcomes) {
                std::string what = "the report " + how + " at " + std::to_string(at) + ", stretch size " +
                                   std::to_string(stretch_size);
                EXPECT_TRUE(outcome.failed) << what;
                EXPECT_EQ(
                    outcome.message.rfind("cannot read report 'report': the report " + how + " while being read", 0),
                    0u)
                    << what << ": " << outcome.message;
                EXPECT_EQ(full.compare(0, outcome.table.size(), outcome.table), 0) << what;
            }
        }
    }
}

// Rows far longer than their lines (a long title on every row) are more
// than a piece may hold ahead of its turn: that piece is read in turn.
TEST(StretchConversion, PiecesWithTooManyRowsToHoldConvertTheSame) {
    std::string report = run_header("BLASTN 2.12.0+", "db");
    for (int i = 0; i < 8; ++i) report += query(i, 2);
    report += query(8, 40, std::string(60000, 't'));
    for (int i = 9; i < 20; ++i) report += query(i, 2);
    report += run_footer;
    expect_same_in_pieces(report, {4096, 65536}, "long titles");
}

TEST(StretchConversion, ReportThatCannotBeReadFailsAsAReadFailure) {
    ScratchDir scratch;
    int descriptor = open(scratch.path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(descriptor, 0);
    MemoryTable memory;
    {
        RowOutput output(memory.stream(), "table");
        hsptab::FieldWriter writer(hsptab::parse_fields("std"), output, false, false);
        try {
            hsptab::convert_in_stretches(descriptor, "folder", writer, 4096);
            ADD_FAILURE() << "a folder was read as a report";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.kind, FailureKind::io);
            EXPECT_NE(std::string(failure.what()).find("read report"), std::string::npos) << failure.what();
        }
    }
    close(descriptor);
}

}  // namespace
}  // namespace hittab::tests
