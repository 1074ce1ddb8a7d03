// A report cut anywhere, or ending without the lines BLAST closes it with,
// converts either to its whole table or to a failure after an exact prefix
// of it; a report that lists subjects without showing their alignments says
// so in a warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hsp_conversion.hpp"
#include "shared_reports.hpp"

namespace hittab::tests {
namespace {

namespace fs = std::filesystem;

std::string alignment(const std::string& score, int from, int to) {
    return " Score = " + score + " bits (32),  Expect = 1e-05\n Identities = 10/10 (100%), Gaps = 0/10 (0%)\n" +
           " Strand=Plus/Plus\n\nQuery  1   ACGTACGTAC  10\n           ||||||||||\nSbjct  " + std::to_string(from) +
           "  ACGTACGTAC  " + std::to_string(to) + "\n\n";
}

const std::string query_footer =
    "\nLambda      K        H\n    1.33    0.621     1.12 \n\nEffective search space used: 2772\n\n\n";

// Two queries, the first with two subjects and three alignments whose last
// numbers have one to four digits, the second without hits.
const std::string blast_plus_report =
    "BLASTN 2.12.0+\n\n\nReference: Zheng Zhang, Scott Schwartz, Lukas Wagner, and Webb\n\n\nDatabase: db\n"
    "           2 sequences; 200 total letters\n\n\n\nQuery= q1 first query\n\nLength=40\n\n"
    "                                                                      Score     E\n"
    "Sequences producing significant alignments:                          (Bits)  Value\n\n"
    "s1 subject one                                                        30.0    1e-05\n"
    "s2 subject two                                                        20.0    0.5\n\n\n"
    ">s1 subject one\nLength=2000\n\n" +
    alignment("30.0", 1, 10) + alignment("25.0", 11, 20) + "\n>s2 subject two\nLength=2000\n\n" +
    alignment("20.0", 1291, 1300) + query_footer +
    "Query= q2 without hits\n\nLength=30\n\n\n***** No hits found *****\n\n" + query_footer + blast_plus_closing;

const std::string blastall_report =
    "BLASTN 2.2.18 [Mar-02-2008]\n\n\nQuery= q1\n         (40 letters)\n\nDatabase: db\n"
    "           2 sequences; 200 total letters\n\nSearching..................................................done\n\n\n"
    "                                                                 Score    E\n"
    "Sequences producing significant alignments:                      (bits) Value\n\n"
    "s1 subject one                                                      30   1e-05\n\n"
    ">s1 subject one\n          Length = 2000\n\n"
    " Score = 30.0 bits (15), Expect = 1e-05\n Identities = 10/10 (100%)\n Strand = Plus / Plus\n\n\n"
    "Query: 1    acgtacgtac 10\n            ||||||||||\nSbjct: 1291 acgtacgtac 1300\n\n\n"
    "  Database: db\n    Posted date:  Mar 2, 2008  1:43 PM\n  Number of letters in database: 200\n"
    "  Number of sequences in database:  2\n  \nLambda     K      H\n    1.37    0.711     1.31 \n\n"
    "Matrix: blastn matrix:1 -3\nGap Penalties: Existence: 5, Extension: 2\n";

const std::string web_report =
    "Program: BLASTN \nDatabase: nt\nQuery #1: q1 first query Query ID: lcl|Query_1 Length: 40\n\n"
    "Sequences producing significant alignments:\n"
    "                                                                  Scientific      Common\n"
    "Description                                                       Name            Name     Accession\n"
    "subject one                                                       NA              NA       S1.1\n"
    "subject two                                                       NA              NA       S2.1\n\n"
    "Alignments:\n\n>subject one\nSequence ID: S1.1 Length: 2000\nRange 1: 1 to 10\n\n"
    "Score:30.0 bits(32), Expect:1e-05, \nIdentities:10/10(100%),  Gaps:0/10(0%), Strand: Plus/Plus\n\n"
    "Query  1     ACGTACGTAC  10\n              ||||||||||\nSbjct  1     ACGTACGTAC  10\n\n\n\n"
    ">subject two\nSequence ID: S2.1 Length: 2000\nRange 1: 1291 to 1300\n\n"
    "Score:20.0 bits(20), Expect:0.5, \nIdentities:10/10(100%),  Gaps:0/10(0%), Strand: Plus/Plus\n\n"
    "Query  1     ACGTACGTAC  10\n              ||||||||||\nSbjct  1291  ACGTACGTAC  1300\n\n\n\n";

// Where to cut `text`: at every line end, inside every number that ends an
// alignment line, and at every `stride`-th byte.
std::vector<std::size_t> cut_points(const std::string& text, std::size_t stride) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < text.size(); at += stride) cuts.push_back(at);
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        cuts.push_back(at + 1);
        std::size_t line = text.rfind('\n', at - 1) + 1;
        if (text.compare(line, 5, "Sbjct") != 0) continue;
        for (std::size_t digit = at; digit > line && text[digit - 1] >= '0' && text[digit - 1] <= '9'; --digit) {
            cuts.push_back(digit);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    return cuts;
}

bool is_prefix(const std::string& part, const std::string& whole) { return whole.compare(0, part.size(), part) == 0; }

// Converts `report` cut at each of cut_points: from `whole_from` on the cut
// leaves the report whole and gives the whole table; before it, the cut
// fails after a prefix of the table, except in a web download, which has no
// closing lines: there the rows may stop early with a warning, or with no
// rows at all before the line that heads the list of subjects ends (`list_at`).
void expect_whole_or_prefix(const std::string& name, const std::string& report, std::size_t whole_from,
                            std::size_t stride, std::size_t every_form, bool web = false, std::size_t list_at = 0) {
    const std::string fields = "qseqid sseqid length qstart qend sstart send evalue bitscore";
    HspOutcome whole = convert_hsps_as_given(report, fields, false, default_block_size);
    ASSERT_FALSE(whole.failed) << name << ": " << whole.message;
    std::vector<std::size_t> cuts = cut_points(report, stride);
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        std::size_t cut = cuts[i];
        std::string part = report.substr(0, cut);
        // Every form for some cuts, as the forms are read alike.
        HspOutcome outcome = i % every_form == 0 ? convert_hsps(part, fields)
                                                 : convert_hsps_as_given(part, fields, false, default_block_size);
        std::string where = name + " cut at byte " + std::to_string(cut);
        EXPECT_TRUE(is_prefix(outcome.table, whole.table)) << where << ":\n" << outcome.table;
        if (outcome.failed) {
            EXPECT_NE(outcome.message.find("read in stretches"), 0u) << where << ": " << outcome.message;
            EXPECT_NE(outcome.message.find("packed as"), 0u) << where << ": " << outcome.message;
            EXPECT_GT(outcome.line_number, 0u) << where << ": " << outcome.message;
        } else if (cut == 0) {
            EXPECT_EQ(outcome.warning, "hsptab: warning: 'report': the report is empty: it gives no rows\n");
        } else if (cut >= whole_from) {
            EXPECT_EQ(outcome.table, whole.table) << where;
        } else if (web) {
            EXPECT_TRUE(outcome.table == whole.table || !outcome.warning.empty() || cut <= list_at)
                << where << ": rows stop early without a warning";
        } else {
            ADD_FAILURE() << where << " converts without a failure";
        }
    }
}

TEST(CutReports, BlastPlusFailsUnlessItsMatrixLineIsWhole) {
    expect_whole_or_prefix("BLAST+", blast_plus_report, blast_plus_report.rfind("Matrix:") + 7, 5, 8);
}

TEST(CutReports, BlastallFailsUnlessItsStatisticsReachLambda) {
    expect_whole_or_prefix("blastall", blastall_report, blastall_report.rfind("Lambda") + 6, 5, 8);
}

TEST(CutReports, WebDownloadWarnsOrFailsWhereRowsStopEarly) {
    expect_whole_or_prefix("web", web_report, web_report.size(), 5, 8, true,
                           web_report.find('\n', web_report.find("Sequences producing")));
}

TEST(CutReports, GenuineReportsOfEveryLayout) {
    REQUIRE_SHARED_REPORTS();
    for (const auto& entry : fs::directory_iterator(shared_reports)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("text_", 0) != 0) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string report = text.str();
        if (name.find("21500") != std::string::npos) {
            expect_whole_or_prefix(name, report, report.size(), 211, 40, true,
                                   report.find('\n', report.find("Sequences producing")));
            continue;
        }
        bool legacy = name.find("L_") != std::string::npos;
        std::size_t closing =
            legacy ? report.find("\nLambda", report.find("\n  Database:")) + 7 : report.rfind("\nMatrix:") + 8;
        expect_whole_or_prefix(name, report, closing, 211, 40);
    }
}

struct EndCase {
    const char* name;
    std::string report;
    std::string table;  // sstart send, before the failure
    std::string message;
};

std::vector<EndCase> end_cases() {
    std::string first_query = blast_plus_report.substr(0, blast_plus_report.find("Query= q2"));
    std::string cut_number = blast_plus_report.substr(0, blast_plus_report.find("1300\n") + 3);
    std::string web_cut = web_report.substr(0, web_report.rfind("1300") + 3);
    return {
        {"CutInsideTheLastNumberOfARun", cut_number, "1\t10\n11\t20\n",
         "the report ends early, inside the alignment that begins at line 46"},
        {"CutInsideTheLastNumberOfAWebDownload", web_cut, "1\t10\n",
         "the report ends early, inside the alignment that begins at line 30"},
        {"RunCutBeforeAnotherRun", first_query + blast_plus_report, "1\t10\n11\t20\n1291\t1300\n",
         "the BLAST run before this line ends early: the statistics that close a BLAST+ run (\"  Database:\" ... "
         "\"Matrix:\") are missing"},
        {"BlastallWithoutItsStatistics", blastall_report.substr(0, blastall_report.find("  Database: db")), "",
         "the report ends early, inside the alignment that begins at line 21"},
        {"StatisticsWithoutTheirMatrixLine", blast_plus_report.substr(0, blast_plus_report.find("Matrix:")),
         "1\t10\n11\t20\n1291\t1300\n",
         "the report ends early: the statistics that close a BLAST+ run (\"  Database:\" ... \"Matrix:\") are "
         "missing"},
        {"WebCutInsideItsList", web_report.substr(0, web_report.find("subject two")), "",
         "the report ends early, inside the list of subjects"},
    };
}

void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

class ReportEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(ReportEnd, FailsAfterTheRowsItConfirms) {
    const EndCase& c = GetParam();
    HspOutcome outcome = convert_hsps(c.report, "sstart send");
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.table, c.table);
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportEnd, ::testing::ValuesIn(end_cases()),
                         [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

// DIAMOND writes BLAST's pairwise layout as "BLASTP 2.3.0+", without
// BLAST+'s references and closing lines: its rows stand without them, as
// the web download's do. BLAST+ 2.3.0 itself cites its papers and closes
// its runs.
TEST(CutReports, DiamondReportsHaveNoClosingLines) {
    const std::string diamond =
        "BLASTP 2.3.0+\n\n\nQuery= q1\n\nLength=40\n\n\n>s1 subject\nLength=2000\n\n" + alignment("30.0", 1291, 1300);
    HspOutcome outcome = convert_hsps(diamond, "sstart send");
    EXPECT_FALSE(outcome.failed) << outcome.message;
    EXPECT_EQ(outcome.table, "1291\t1300\n");
    EXPECT_FALSE(convert_hsps("BLASTX 2.3.0+\n\n\n", "std").failed);
    HspOutcome blast_plus =
        convert_hsps("BLASTP 2.3.0+\n\n\nReference: Stephen F. Altschul\n\n" + diamond.substr(diamond.find("Query=")),
                     "sstart send");
    EXPECT_TRUE(blast_plus.failed);
    EXPECT_EQ(blast_plus.message, "the report ends early, inside the alignment that begins at line 14");
}

// DIAMOND's blastx reports call themselves "BLASTP 2.3.0+" too, and write
// the query's frame without a sign: its coordinates are nucleotides'.
TEST(CutReports, DiamondBlastxReportsHaveTranslatedQueries) {
    const std::string blastx =
        "BLASTP 2.3.0+\n\n\nQuery= q1\n\nLength=60\n\n\n>s1 subject\nLength=20\n\n"
        " Score = 30.0 bits (70),  Expect = 1.00e-05\n"
        " Identities = 4/4 (100%), Positives = 4/4 (100%), Gaps = 0/4 (0%)\n Frame = 2\n\n"
        "Query  2   MKLV  13\n            MKLV\nSbjct  5   MKLV  8\n\n"
        " Score = 20.0 bits (40),  Expect = 1.00e-02\n"
        " Identities = 3/3 (100%), Positives = 3/3 (100%), Gaps = 0/3 (0%)\n Frame = -1\n\n"
        "Query  60  MKL  52\n            MKL\nSbjct  1   MKL  3\n\n";
    HspOutcome outcome = convert_hsps(blastx, "qstart qend qframe sstart send length");
    EXPECT_FALSE(outcome.failed) << outcome.message;
    EXPECT_EQ(outcome.table, "2\t13\t2\t5\t8\t4\n60\t52\t-1\t1\t3\t3\n");
}

// Subjects listed without an alignment, as -num_alignments below
// -num_descriptions leaves them: counted across queries, headings left out.
TEST(UnalignedSubjects, OneWarningPerReportNamesWhatTheTableLacks) {
    const std::string list_heading =
        "Sequences producing significant alignments:                          (Bits)  Value\n\n";
    auto query = [&](const std::string& name, int listed, int aligned) {
        std::string text = "Query= " + name + "\n\nLength=40\n\n" + list_heading;
        for (int i = 0; i < listed; ++i) {
            if (i == 1) text += "\nSequences used in model and found again:\n\n";
            text += "s" + std::to_string(i) + " subject                                    30.0    1e-05\n";
        }
        text += "\n\n";
        for (int i = 0; i < aligned; ++i)
            text += ">s" + std::to_string(i) + " subject\nLength=2000\n\n" + alignment("30.0", 1, 10);
        return text + query_footer;
    };
    struct Case {
        std::string queries;
        std::string warning;
    };
    const Case cases[] = {
        {query("q1", 2, 2) + query("q2", 0, 0), ""},
        {query("q1", 1, 2), ""},
        {query("q1", 3, 1),
         "hsptab: warning: 'report': query q1 lists 3 subjects, 2 without an alignment in the "
         "report: their rows are not in the table\n"},
        {query("q1", 3, 0) + query("q2", 2, 2) + query("q3", 5, 4),
         "hsptab: warning: 'report': 2 queries list 8 subjects, 4 without an alignment in the report: their rows are "
         "not in the table\n"},
    };
    for (const Case& c : cases) {
        std::string report = "BLASTN 2.12.0+\n\n\nDatabase: db\n\n" + c.queries + blast_plus_closing;
        HspOutcome outcome = convert_hsps(report, "qseqid");
        EXPECT_FALSE(outcome.failed) << outcome.message;
        EXPECT_EQ(outcome.warning, c.warning) << report;
    }
    HspOutcome web = convert_hsps(web_report.substr(0, web_report.find(">subject two")), "sseqid");
    EXPECT_EQ(web.table, "S1.1\n");
    EXPECT_EQ(web.warning,
              "hsptab: warning: 'report': query Query_1 lists 2 subjects, 1 without an alignment in the report: their "
              "rows are not in the table\n");
    EXPECT_EQ(convert_hsps(web_report, "sseqid").warning, "");
}

}  // namespace
}  // namespace hittab::tests
