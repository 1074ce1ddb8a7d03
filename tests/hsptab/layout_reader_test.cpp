// What hsptab makes of each layout of report: BLAST+, legacy blastall and
// the web page's download; wrapped titles, several alignments per subject,
// frames and strands; and the reports it must refuse, with the line at fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "hsp_conversion.hpp"
#include "kernels.hpp"

namespace hittab::tests {
namespace {

using namespace std::string_literals;

const std::string all_fields =
    "qseqid qlen sseqid stitle slen pident length mismatch gapopen gaps nident positive ppos qstart qend sstart "
    "send qframe sframe frames sstrand evalue bitscore score qcovhsp btop qseq sseq";

// A BLAST+ blastn report: a wrapped title, two alignments of one subject on
// both strands, and a query without hits.
const std::string blastn_report =
    "BLASTN 2.12.0+\n\n\nReference: Zheng Zhang, Scott Schwartz, Lukas Wagner, and Webb\n\n\n"
    "Database: db\n           2 sequences; 200 total letters\n\n\n\n"
    "Query= q1 first query\n\nLength=40\n"
    "                                                                      Score     E\n"
    "Sequences producing significant alignments:                          (Bits)  Value\n\n"
    "s1 subject one                                                        30.0    1e-05\n\n\n"
    ">s1 subject one with a title that BLAST wrapped because it is long \nenough to wrap\nLength=100\n\n"
    " Score = 30.0 bits (32),  Expect = 1e-05\n"
    " Identities = 18/20 (90%), Gaps = 1/20 (5%)\n"
    " Strand=Plus/Plus\n\n"
    "Query  1   ACGTACGTAC-TACGTACGT  19\n"
    "           |||||||||| ||||| |||\n"
    "Sbjct  11  ACGTACGTACGTACGTTCGT  30\n\n\n"
    " Score = 20.0 bits (20),  Expect = 0.5\n"
    " Identities = 10/10 (100%), Gaps = 0/10 (0%)\n"
    " Strand=Plus/Minus\n\n"
    "Query  5   acgtACGTAC  14\n"
    "           ||||||||||\n"
    "Sbjct  80  ACGTACGTAC  71\n\n\n\n"
    "Lambda      K        H\n    1.33    0.621     1.12 \n\n"
    "Effective search space used: 2772145\n\n\n"
    "Query= q2 without hits\n\nLength=30\n\n\n***** No hits found *****\n\n\n\n"
    "Lambda      K        H\n    1.33    0.621     1.12 \n\n"
    "Effective search space used: 1232\n\n\n" +
    blast_plus_closing;

const std::string blastn_rows =
    "q1\t40\ts1\ts1 subject one with a title that BLAST wrapped because it is long enough to wrap\t100\t90.000\t20\t"
    "1\t1\t1\t18\t18\t90.00\t1\t19\t11\t30\t1\t1\t1/1\tplus\t1e-05\t30.0\t32\t48\t10-G5AT3\t"
    "ACGTACGTAC-TACGTACGT\tACGTACGTACGTACGTTCGT\n"
    "q1\t40\ts1\ts1 subject one with a title that BLAST wrapped because it is long enough to wrap\t100\t100.000\t10\t"
    "0\t0\t0\t10\t10\t100.00\t5\t14\t80\t71\t1\t-1\t1/-1\tminus\t0.5\t20.0\t20\t25\t10\tACGTACGTAC\tACGTACGTAC\n";

std::string with_crlf(const std::string& text) {
    std::string result;
    for (char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return result;
}

TEST(BlastPlusLayout, EveryFieldOfEveryAlignment) {
    HspOutcome outcome = convert_hsps(blastn_report, all_fields);
    EXPECT_FALSE(outcome.failed) << outcome.message;
    EXPECT_EQ(outcome.table, blastn_rows);
}

TEST(BlastPlusLayout, SameWhateverTheLineEndsAndBlocks) {
    for (const std::string& report : {blastn_report, with_crlf(blastn_report)}) {
        for (std::size_t block_size : {1, 7, 64, 4096}) {
            EXPECT_EQ(convert_hsps(report, all_fields, false, block_size).table, blastn_rows) << block_size;
        }
    }
}

// Gapped alignments in lines of 60 and of 150 columns, so that residues
// cross 64-byte windows and gap runs cross lines, read with every kernel
// and several block sizes: the gap columns, gap openings, mismatches and
// ends are those of the whole aligned sequences.
using GappedAlignments = EachKernel;

TEST_P(GappedAlignments, GapsAreCountedAcrossWindowsAndLines) {
    std::mt19937 random(3);
    for (int round = 0; round < 40; ++round) {
        std::size_t columns = 1 + random() % 400;
        std::string query, subject;
        for (std::size_t i = 0; i < columns; ++i) {
            // Runs of gaps in either sequence, never in both at once.
            bool query_gap = random() % 5 == 0 && (i == 0 || query.back() != '-' || random() % 2 == 0);
            bool subject_gap = !query_gap && random() % 6 == 0;
            query += query_gap ? '-' : "ACGT"[random() % 4];
            subject += subject_gap ? '-' : random() % 8 == 0 ? 'N' : query.back() == '-' ? 'A' : query.back();
        }
        std::uint64_t gaps = 0, opens = 0, identities = 0, query_letters = 0, subject_letters = 0;
        for (std::size_t i = 0; i < columns; ++i) {
            for (const std::string* sequence : {&query, &subject}) {
                bool gap = (*sequence)[i] == '-';
                gaps += gap;
                opens += gap && (i == 0 || (*sequence)[i - 1] != '-');
            }
            identities += query[i] != '-' && query[i] == subject[i];
            query_letters += query[i] != '-';
            subject_letters += subject[i] != '-';
        }
        std::size_t width = round % 2 == 0 ? 60 : 150;
        std::string report =
            "BLASTN 2.12.0+\n\nQuery= q\n\nLength=1000\n\n>s\nLength=1000\n\n"
            " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = " +
            std::to_string(identities) + "/" + std::to_string(columns) + " (90%), Gaps = " + std::to_string(gaps) +
            "/" + std::to_string(columns) + " (5%)\n Strand=Plus/Plus\n\n";
        std::uint64_t query_at = 1, subject_at = 1;
        for (std::size_t at = 0; at < columns; at += width) {
            std::string query_part = query.substr(at, width), subject_part = subject.substr(at, width);
            std::uint64_t query_from = query_at, subject_from = subject_at;
            for (char c : query_part) query_at += c != '-';
            for (char c : subject_part) subject_at += c != '-';
            report += "Query  " + std::to_string(query_from) + "  " + query_part + "  " + std::to_string(query_at - 1) +
                      "\n       " + std::string(query_part.size() + 4, '|') + "\nSbjct  " +
                      std::to_string(subject_from) + "  " + subject_part + "  " + std::to_string(subject_at - 1) +
                      "\n\n";
        }
        std::string expected = std::to_string(columns) + "\t" + std::to_string(columns - identities - gaps) + "\t" +
                               std::to_string(opens) + "\t" + std::to_string(gaps) + "\t1\t" +
                               std::to_string(query_letters) + "\t1\t" + std::to_string(subject_letters) + "\n";
        for (std::size_t block_size : {std::size_t{100}, default_block_size}) {
            HspOutcome outcome =
                convert_hsps(report + blast_plus_closing, "length mismatch gapopen gaps qstart qend sstart send", false,
                             block_size, kernel());
            ASSERT_FALSE(outcome.failed) << outcome.message << "\n" << report;
            ASSERT_EQ(outcome.table, expected) << report << "block size " << block_size;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, GappedAlignments, ::testing::ValuesIn(kernel_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// The usual blocks (Query line, midline, Sbjct line) are read together from
// the masks, the line-by-line reading taking over wherever they look
// otherwise; asking for qseq turns the first off. Both must give the same
// rows and the same failure, at the same line, for reports whose blocks
// start anywhere in a window, have residues up to and past 64 columns,
// coordinates of up to nine digits, 0 to 2 blank lines between blocks, no
// midline, no last line feed, or a byte broken anywhere in an alignment line.
using UsualBlocks = EachKernel;

std::string without_last_column(const std::string& table) {
    std::string rows;
    for (std::size_t at = 0; at < table.size();) {
        std::size_t end = table.find('\n', at);
        if (end == std::string::npos) end = table.size();
        std::string row = table.substr(at, end - at);
        rows += row.substr(0, row.rfind('\t')) + "\n";
        at = end + 1;
    }
    return rows;
}

TEST_P(UsualBlocks, ReadAsTheLineByLineReadingReadsThem) {
    std::mt19937 random(11);
    const std::size_t widths[] = {1, 2, 60, 62, 63, 64, 65, 80};
    const std::uint64_t starts[] = {1, 9, 10, 99, 12345, 999999, 1234567, 9999999, 123456789};
    const std::string fields = "length mismatch gapopen gaps qstart qend sstart send sstrand";
    for (int round = 0; round < 300; ++round) {
        std::string report =
            "BLASTN 2.12.0+\n\nQuery= q" + std::string(random() % 64, 'x') + "\n\nLength=1000\n\n>s\nLength=1000\n\n";
        for (int alignment = 0; alignment < 2; ++alignment) {
            std::size_t columns = 1 + random() % 200;
            std::size_t width = widths[random() % 8];
            std::string query, subject;
            for (std::size_t i = 0; i < columns; ++i) {
                bool query_gap = random() % 7 == 0, subject_gap = !query_gap && random() % 9 == 0;
                query += query_gap ? '-' : "ACGT"[random() % 4];
                subject += subject_gap ? '-' : "ACGT"[random() % 4];
            }
            std::size_t gaps = 0;
            for (std::size_t i = 0; i < columns; ++i) gaps += (query[i] == '-') + (subject[i] == '-');
            report += " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 1/" + std::to_string(columns) +
                      " (1%), Gaps = " + std::to_string(random() % 4 == 0 ? 0 : gaps) + "/" + std::to_string(columns) +
                      " (5%)\n Strand=Plus/Plus\n\n";
            std::uint64_t query_at = starts[random() % 9], subject_at = starts[random() % 9];
            std::string spaces(1 + random() % 3, ' ');
            for (std::size_t at = 0; at < columns; at += width) {
                std::string query_part = query.substr(at, width), subject_part = subject.substr(at, width);
                std::string query_from = std::to_string(query_at), subject_from = std::to_string(subject_at);
                std::size_t number_width = std::max(query_from.size(), subject_from.size());
                query_at += query_part.size();
                subject_at += subject_part.size();
                auto line = [&](const std::string& label, const std::string& from, const std::string& part,
                                std::uint64_t to) {
                    return label + spaces + from + std::string(number_width - from.size() + 2, ' ') + part + "  " +
                           std::to_string(to - 1) + "\n";
                };
                report += line("Query", query_from, query_part, query_at);
                switch (random() % 12) {
                    case 0: break;  // no midline
                    case 1: report += " |\n"; break;
                    case 2: report += " Strand=Plus/Minus\n"; break;
                    default:
                        report += std::string(5 + spaces.size() + number_width + 2, ' ') +
                                  std::string(random() % (width + 2), '|') + "\n";
                }
                report += line("Sbjct", subject_from, subject_part, subject_at);
                report += std::string(random() % 3, '\n');
            }
            report += "\n";
        }
        if (random() % 2 == 0) {
            // A byte of an alignment line broken, left out or added: a space, a
            // letter, a line feed, a dash, a digit or a byte next to the digits.
            std::size_t line = report.find("Query ");
            for (int skip = static_cast<int>(random() % 4); skip > 0 && line != std::string::npos; --skip) {
                line = report.find("\nSbjct", line + 1);
            }
            if (line != std::string::npos) {
                // Near the line's start or near its end.
                std::size_t line_end = std::min(report.find('\n', line + 1), report.size());
                std::size_t at = random() % 2 == 0 ? line + 1 + random() % 40 : line_end - 1 - random() % 10;
                // Next to a digit, ':' and '/' are the bytes after and before
                // the digits; 0xFA and up carry when six is added.
                char byte = " x\n-1:/\xfa"[random() % 8];
                switch (random() % 3) {
                    case 0: report[at] = byte; break;
                    case 1: report.erase(at, 1); break;
                    default: report.insert(at, 1, byte); break;
                }
            }
        }
        if (random() % 4 == 0) report.erase(report.find_last_not_of('\n') + 1);
        for (std::size_t block_size : {std::size_t{100}, default_block_size}) {
            HspOutcome together =
                convert_hsps_as_given(report + blast_plus_closing, fields, false, block_size, kernel());
            HspOutcome by_line =
                convert_hsps_as_given(report + blast_plus_closing, fields + " qseq", false, block_size, kernel());
            ASSERT_EQ(together.failed, by_line.failed) << together.message << by_line.message << "\n" << report;
            ASSERT_EQ(together.message, by_line.message) << report;
            ASSERT_EQ(together.line_number, by_line.line_number) << report;
            ASSERT_EQ(together.table, without_last_column(by_line.table)) << report;
        }
    }
}

// Every byte value inside a start and inside an end, of the Query line and
// of the Sbjct line, of the first block and of the second: a coordinate
// with any byte but a digit inside is refused, whichever way it is read,
// and one with a digit more is read as it stands.
// (A line feed or a carriage return makes two lines: that is another case.)
TEST_P(UsualBlocks, EveryByteInsideACoordinate) {
    const std::string fields = "length qstart qend sstart send";
    for (int byte = 0; byte < 256; ++byte) {
        if (byte == '\n' || byte == '\r') continue;
        for (int place = 0; place < 8; ++place) {
            std::string coordinates[8] = {"11", "20", "31", "40", "21", "30", "41", "50"};
            coordinates[place].insert(1, 1, static_cast<char>(byte));
            std::string report =
                "BLASTN 2.12.0+\n\nQuery= q\n\nLength=100000\n\n>s\nLength=100000\n\n"
                " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 20/20 (100%), Gaps = 0/20 (0%)\n"
                " Strand=Plus/Plus\n\n";
            for (int block = 0; block < 2; ++block) {
                const std::string* numbers = coordinates + 4 * block;
                report += "Query  " + numbers[0] + "  ACGTACGTAC  " + numbers[1] + "\n            ||||||||||\nSbjct  " +
                          numbers[2] + "  ACGTACGTAC  " + numbers[3] + "\n\n";
            }
            bool digit = byte >= '0' && byte <= '9';
            std::string rows =
                "20\t" + coordinates[0] + "\t" + coordinates[5] + "\t" + coordinates[2] + "\t" + coordinates[7] + "\n";
            HspOutcome together =
                convert_hsps_as_given(report + blast_plus_closing, fields, false, default_block_size, kernel());
            HspOutcome by_line = convert_hsps_as_given(report + blast_plus_closing, fields + " qseq", false,
                                                       default_block_size, kernel());
            // A digit inside the alignment's first or last coordinate of a
            // side makes coordinates that do not span its residues, which
            // the failure names as read.
            std::string contradiction;
            if (digit && (place == 0 || place == 5)) {
                contradiction = "the query coordinates " + coordinates[0] + " to " + coordinates[5] +
                                " do not span the alignment's 20 query residues";
            } else if (digit && (place == 2 || place == 7)) {
                contradiction = "the subject coordinates " + coordinates[2] + " to " + coordinates[7] +
                                " do not span the alignment's 20 subject residues";
            }
            for (const HspOutcome* outcome : {&together, &by_line}) {
                ASSERT_EQ(outcome->failed, !digit || !contradiction.empty()) << byte << " at " << place;
                if (!contradiction.empty()) {
                    ASSERT_EQ(outcome->message, contradiction) << byte << " at " << place;
                }
            }
            if (digit && contradiction.empty()) {
                ASSERT_EQ(together.table, rows) << byte << " at " << place;
                ASSERT_EQ(without_last_column(by_line.table), rows) << byte << " at " << place;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, UsualBlocks, ::testing::ValuesIn(kernel_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// Alignment lines with coordinates of every width from 1 to 12 digits, in
// BLAST+'s own shape and in the shapes it does not write (a colon after the
// label, one space, trailing blanks): each reads the same coordinates.
TEST(BlastPlusLayout, CoordinatesOfEveryWidthAndShape) {
    const std::string digits = "987654321098";
    const std::vector<std::string> shapes = {"{L}  {F}  ACGTACGTAC  {T}", "{L}: {F} ACGTACGTAC {T}",
                                             "{L} {F}  ACGTACGTAC  {T}  ", "{L}      {F}      ACGTACGTAC      {T}"};
    for (std::size_t width = 1; width <= digits.size(); ++width) {
        std::uint64_t from = std::stoull(digits.substr(0, width));
        for (const std::string& shape : shapes) {
            auto line = [&](const std::string& label, std::uint64_t start, std::uint64_t end) {
                std::string text = shape;
                text.replace(text.find("{L}"), 3, label);
                text.replace(text.find("{F}"), 3, std::to_string(start));
                text.replace(text.find("{T}"), 3, std::to_string(end));
                return text + "\n";
            };
            std::string report =
                "BLASTN 2.12.0+\n\nQuery= q\n\nLength=999999999999\n\n>s\nLength=999999999999\n\n"
                " Score = 30.0 bits (32),  Expect = 1e-05\n"
                " Identities = 20/20 (100%), Gaps = 0/20 (0%)\n Strand=Plus/Plus\n\n" +
                line("Query", from, from + 9) + "         ||||||||||\n" + line("Sbjct", from + 1, from + 10) + "\n" +
                line("Query", from + 10, from + 19) + "         ||||||||||\n" + line("Sbjct", from + 11, from + 20) +
                "\n";
            std::string expected = std::to_string(from) + "\t" + std::to_string(from + 19) + "\t" +
                                   std::to_string(from + 1) + "\t" + std::to_string(from + 20) + "\n";
            HspOutcome outcome = convert_hsps(report + blast_plus_closing, "qstart qend sstart send");
            ASSERT_FALSE(outcome.failed) << outcome.message << "\n" << report;
            EXPECT_EQ(outcome.table, expected) << report;
        }
    }
}

// Subject titles and their Length lines wherever they come: the first of a
// query, after an alignment, after a subject without alignments; titles
// wrapped over lines, one of them beginning "Lengthy".
TEST(BlastPlusLayout, SubjectTitlesAndLengthsWhereverTheyCome) {
    const std::string alignment =
        " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n"
        " Strand=Plus/Plus\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n\n";
    const std::string report = "BLASTN 2.12.0+\n\nQuery= q\n\nLength=100\n\n>s1 first\nLength=10\n\n" + alignment +
                               alignment +
                               "\n>s2 without alignments\nLength=20\n\n>s3 title wrapped\n"
                               "Lengthy words\nLength=30\n\n" +
                               alignment + ">s4\nLength=40\n" + alignment + blast_plus_closing;
    const std::string rows =
        "s1\ts1 first\t10\t5\ns1\ts1 first\t10\t5\ns3\ts3 title wrapped Lengthy words\t30\t5\n"
        "s4\ts4\t40\t5\n";
    for (std::size_t block_size : {std::size_t{3}, std::size_t{64}, default_block_size}) {
        HspOutcome outcome = convert_hsps(report, "sseqid stitle slen sstart", false, block_size);
        EXPECT_FALSE(outcome.failed) << outcome.message;
        EXPECT_EQ(outcome.table, rows) << block_size;
    }
}

// A subject's ID is its title's first word, whose end is searched eight
// bytes at a time: words of every length around those steps, ending at each
// whitespace byte, and holding bytes below the space that are not whitespace.
TEST(BlastPlusLayout, SubjectIdsEndAtTheFirstWhitespace) {
    const std::string alignment =
        " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n"
        " Strand=Plus/Plus\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n\n";
    for (std::size_t size = 1; size <= 26; ++size) {
        std::string word;
        for (std::size_t i = 0; i < size; ++i) word += static_cast<char>('a' + i);
        if (size > 3) word[size / 2] = '\x01';  // no whitespace
        if (size > 5) word[size - 2] = '\xe9';
        for (char after : {' ', '\t', '\v', '\f'}) {
            std::string report = "BLASTN 2.12.0+\n\nQuery= q\n\nLength=100\n\n>" + word + after +
                                 "rest of title\nLength=10\n\n" + alignment;
            HspOutcome outcome = convert_hsps(report + blast_plus_closing, "sseqid", false, 64);
            EXPECT_FALSE(outcome.failed) << outcome.message;
            EXPECT_EQ(outcome.table, word + "\n") << size << " " << static_cast<int>(after);
        }
    }
}

// BLAST+'s Score line is read with a few comparisons of eight bytes, any
// other shape in full: scores of up to nine characters, raw scores of up to
// nine digits, spaces where BLAST+ writes none, values cut short, values far
// longer than any BLAST writes. Each gives the row, or the failure, it always
// gave.
TEST(BlastPlusLayout, ScoreLinesOfEveryShape) {
    struct ScoreCase {
        std::string line;
        std::string row;      // bitscore, score, evalue
        std::string failure;  // empty when the row is written
    };
    const std::vector<ScoreCase> cases = {
        {" Score = 349 bits (194),  Expect = 7e-87", "349\t194\t7e-87\n", ""},
        {" Score = 1234567 bits (1234567),  Expect = 0.0", "1234567\t1234567\t0.0\n", ""},
        {" Score = 12345678 bits (12345678),  Expect = 0.0", "12345678\t12345678\t0.0\n", ""},
        {" Score = 123456789 bits (123456789),  Expect = 0.0", "123456789\t123456789\t0.0\n", ""},
        {" Score = 30.0 bits (32),  Expect = e-146", "30.0\t32\t1e-146\n", ""},
        {" Score =  517 bits (261), Expect = e-146", "517\t261\t1e-146\n", ""},
        {" Score = 180 bits (387), Expect(2) = 9e-91", "180\t387\t9e-91\n", ""},
        // Values of 7 to 9, 31 to 33 and many more bytes, kept whole.
        {" Score = 1234.56 bits (1),  Expect = e-12345", "1234.56\t1\t1e-12345\n", ""},
        {" Score = " + std::string(31, '7') + " bits (" + std::string(32, '8') + "),  Expect = e" +
             std::string(31, '9'),
         std::string(31, '7') + "\t" + std::string(32, '8') + "\t1e" + std::string(31, '9') + "\n", ""},
        {" Score = " + std::string(33, '7') + " bits (" + std::string(40, '8') + "), Expect = " + std::string(33, '9'),
         std::string(33, '7') + "\t" + std::string(40, '8') + "\t" + std::string(33, '9') + "\n", ""},
        {" Score = " + std::string(99, '7') + " bits (1),  Expect = e-" + std::string(99, '9'),
         std::string(99, '7') + "\t1\t1e-" + std::string(99, '9') + "\n", ""},
        {" Score = 50.1 bits (118),  Expect = 1e-05, Method: Compositional matrix adjust.", "50.1\t118\t1e-05\n", ""},
        {" Score = 50.1 bits (118),  Expect =  1e-05", "50.1\t118\t1e-05\n", ""},
        {" Score = 50.1  bits  (118),  Expect = 2", "50.1\t118\t2\n", ""},
        {" Score = 50.1 bits (118),  Expect = ", "", "a Score line without an Expect value"},
        {" Score = 50.1 bits (118),  Expect =", "", "a Score line without an Expect value"},
        {" Score = 50.1 bits (118),  Expect = ,", "", "a Score line without an Expect value"},
        {" Score = 50.1 bits (118),  Expect = ;", "", "a Score line without an Expect value"},
        {" Score = 50.1 bits (118)", "", "a Score line without an Expect value"},
        {" Score = 50.1 bits ()", "", "a Score line without a raw score"},
        {" Score = 50.1 bits (1x8),  Expect = 2", "", "a Score line without a raw score"},
        {" Score = 50.1 bits", "", "a Score line without a raw score"},
        {" Score = 50.1", "", "a Score line without a bit score"},
        {" Score = ", "", "a Score line without a bit score"},
    };
    for (const ScoreCase& c : cases) {
        const std::string alignment =
            "\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n";
        for (const std::string& end : {alignment, std::string()}) {
            std::string report = "BLASTN 2.12.0+\n\nQuery= q\n\nLength=100\n\n>s\nLength=10\n\n" + c.line + end + "\n" +
                                 blast_plus_closing;
            HspOutcome outcome = convert_hsps(report, "bitscore score evalue", false, 64);
            if (!c.failure.empty()) {
                EXPECT_TRUE(outcome.failed) << c.line;
                EXPECT_EQ(outcome.message, c.failure) << c.line;
                EXPECT_EQ(outcome.line_number, 10u) << c.line;
            } else if (!end.empty()) {
                EXPECT_FALSE(outcome.failed) << c.line << ": " << outcome.message;
                EXPECT_EQ(outcome.table, c.row) << c.line;
            } else {
                // The statistics follow the Score line: the alignment has no Identities line.
                EXPECT_EQ(outcome.message, "an alignment without its Identities line") << c.line;
            }
        }
    }
}

TEST(BlastPlusLayout, StandardFieldsByDefault) {
    EXPECT_EQ(convert_hsps(blastn_report).table,
              "q1\ts1\t90.000\t20\t1\t1\t1\t19\t11\t30\t1e-05\t30.0\n"
              "q1\ts1\t100.000\t10\t0\t0\t5\t14\t80\t71\t0.5\t20.0\n");
}

TEST(BlastPlusLayout, CommentsNameEveryQueryAndCountItsHits) {
    EXPECT_EQ(convert_hsps(blastn_report, "qseqid sseqid evalue", true).table,
              "# BLASTN 2.12.0+\n# Query: q1 first query\n# Database: db\n# Fields: query id, subject id, evalue\n"
              "# 2 hits found\nq1\ts1\t1e-05\nq1\ts1\t0.5\n"
              "# BLASTN 2.12.0+\n# Query: q2 without hits\n# Database: db\n# 0 hits found\n"
              "# BLAST processed 2 queries\n");
}

TEST(BlastPlusLayout, ConcatenatedRunsFollowOneAnother) {
    HspOutcome outcome = convert_hsps(blastn_report + blastn_report, "qseqid sstart");
    EXPECT_EQ(outcome.table, "q1\t11\nq1\t80\nq1\t11\nq1\t80\n");
}

struct Case {
    const char* name;
    std::string report;
    std::string fields;
    std::string table;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// The statistics that close each query of a blastall run.
const std::string blastall_closing =
    "  Database: data/sts\n    Posted date:  Nov 26, 1999  5:52 PM\n  Number of letters in database: 31,998,854\n"
    "  Number of sequences in database:  87,792\n  \nLambda     K      H\n    1.37    0.711     1.31 \n";

const std::string protein_header = "Query= p1\n\nLength=50\n\n>sp|P1|NAME protein one\nLength=60\n\n";

std::vector<Case> layouts() {
    return {
        {"BlastpPositivesAndCompositionNote",
         "BLASTP 2.12.0+\n\n" + protein_header +
             " Score = 50.1 bits (118),  Expect = 1e-05, Method: Compositional matrix adjust.\n"
             " Identities = 6/10 (60%), Positives = 8/10 (80%), Gaps = 0/10 (0%)\n\n"
             "Query  3   MKVLAAGIVG  12\n           MK+L A  +G\nSbjct  7   MKILSAKVLG  16\n\n" +
             blast_plus_closing,
         "sseqid pident positive ppos mismatch frames sstrand evalue score",
         "sp|P1|NAME\t60.000\t8\t80.00\t4\t1/1\tN/A\t1e-05\t118\n"},
        {"BlastxFrameLine",
         "BLASTX 2.12.0+\n\nQuery= n1\n\nLength=300\n\n>p2 protein\nLength=90\n\n"
         " Score = 40.0 bits (90),  Expect = 2e-04\n"
         " Identities = 5/5 (100%), Positives = 5/5 (100%), Gaps = 0/5 (0%)\n Frame = -2\n\n"
         "Query  200  MKVLA  186\n           MKVLA\nSbjct  1    MKVLA  5\n\n" +
             blast_plus_closing,
         "qstart qend qframe sframe frames qcovhsp", "200\t186\t-2\t0\t-2/0\t2\n"},
        {"TblastxTwoFrames",
         "TBLASTX 2.12.0+\n\nQuery= n1\n\nLength=300\n\n>n2 genome\nLength=900\n\n"
         " Score = 40.0 bits (90),  Expect(2) = 2e-04\n"
         " Identities = 5/5 (100%), Positives = 5/5 (100%), Gaps = 0/5 (0%)\n Frame = +1/-3\n\n"
         "Query  1    MKVLA  15\n           MKVLA\nSbjct  500  MKVLA  486\n\n" +
             blast_plus_closing,
         "frames sstart send evalue", "1/-3\t500\t486\t2e-04\n"},
        {"TblastnSubjectFrame",
         "TBLASTN 2.12.0+\n\n" + protein_header +
             " Score = 40.0 bits (90),  Expect = 3e-04\n"
             " Identities = 5/5 (100%), Positives = 5/5 (100%), Gaps = 0/5 (0%)\n Frame = +3\n\n"
             "Query  1    MKVLA  5\n           MKVLA\nSbjct  3    MKVLA  17\n\n" +
             blast_plus_closing,
         "frames", "0/3\n"},
        {"LegacyBlastall",
         "BLASTN 2.0.10 [Aug-26-1999]\n\n\nQuery= gi|1|gb|G1|G1 human STS\nSTS_D11570.\n         (285 letters)\n\n"
         "Database: data/sts\n           87,792 sequences; 31,998,854 total letters\n\n"
         ">gi|720683|gb|G03725|G03725 human STS WI-344.\n           Length = 246\n           \n"
         " Score = 32.2 bits (16), Expect = e-102\n Identities = 15/16 (93%)\n Strand = Plus / Minus\n\n"
         "Query: 260 ctcaataaatgc-agt 274\n           ||||||||||||||||\nSbjct: 178 ctcaataaatgcaagt 163\n\n" +
             blastall_closing,
         "qseqid qlen sseqid slen length gaps gapopen mismatch frames sstrand evalue",
         "gi|1|gb|G1|G1\t285\tgi|720683|gb|G03725|G03725\t246\t16\t1\t1\t0\t1/-1\tminus\t1e-102\n"},
        {"LegacyLengthLeavesOutGapColumns",
         "TBLASTN 2.0.10 [Aug-26-1999]\n\nQuery= p\n         (30 letters)\n\n>s\n           Length = 230\n\n"
         " Score = 46.9 bits (109), Expect = 1e-05\n"
         " Identities = 5/6 (83%), Positives = 5/6 (83%), Gaps = 3/6 (50%)\n Frame = +1\n\n"
         "Query: 1 NW---QVDT 6\n           +W   QVDT\nSbjct: 1 SWRQVQVDT 27\n\n" +
             blastall_closing,
         "length pident gaps qstart qend frames", "6\t83.333\t3\t1\t6\t0/1\n"},
        {"WebDownloadWithSeveralTitlesOfOneSubject",
         "RID: 0W56KN01013\t\nJob Title:gb|WXX52402|\t\t\t\t\nProgram: BLASTP \nDatabase: nr All non-redundant\n"
         "Query #1: sigma factor [Bacillus subtilis] Query ID: gb|WXX52402.1 Length: 239\n\n"
         "Alignments:\n\n>MULTISPECIES: sigma factor [Bacillales]\nSequence ID: WP_003221446.1 Length: 239\n"
         ">sigma-29 factor [Bacillus subtilis]\nSequence ID: NP_389415.2 Length: 239 \nRange 1: 1 to 5\n\n"
         "Score:477 bits(1227), Expect:2e-169, \nMethod:Compositional matrix adjust., \n"
         "Identities:4/5(80%), Positives:5/5(100%), Gaps:0/5(0%)\n\n"
         "Query  1    MKKLK  5\n            MKKL+\nSbjct  1    MKKLR  5\n\n\n\n"
         ">another [Bacillus]\nSequence ID: BAI85158.2 Length: 260 \nRange 1: 22 to 26\n\n"
         "Score:476 bits(1225), Expect:4e-169, \n"
         "Identities:5/5(100%), Positives:5/5(100%), Gaps:0/5(0%)\n\n"
         "Query  1    MKKLK  5\n            MKKLK\nSbjct  22   MKKLK  26\n",
         "qseqid qlen sseqid stitle slen nident positive sstart send evalue bitscore score",
         "WXX52402.1\t239\tWP_003221446.1\tMULTISPECIES: sigma factor "
         "[Bacillales]\t239\t4\t5\t1\t5\t2e-169\t477\t1227\n"
         "WXX52402.1\t239\tBAI85158.2\tanother [Bacillus]\t260\t5\t5\t22\t26\t4e-169\t476\t1225\n"},
        {"WebBlastnStrandOnTheIdentitiesLine",
         "Program: BLASTN \nDatabase: Genome\n"
         "Query #1: G26684.1 human STS Query ID: lcl|Query_78041 Length: 285\n\n"
         ">Mus musculus chromosome 3\nSequence ID: NC_000069.6 Length: 160039680\n"
         "Range 1: 101449144 to 101449149\n\nScore:41.0 bits(44), Expect:0.33, \n"
         "Identities:5/6(83%),  Gaps:1/6(16%), Strand: Plus/Minus\n\n"
         "Query  134        GAA-CC  138\n                  ||| ||\nSbjct  101449149  GAATCC  101449144\n",
         "qseqid sseqid frames sstrand mismatch gapopen evalue", "Query_78041\tNC_000069.6\t1/-1\tminus\t0\t1\t0.33\n"},
        {"TabsInTitlesAsThreeSpaces",
         "BLASTN 2.12.0+\n\nQuery= q1\tfirst\n\nLength=40\n\n>s1 sub\tject\nLength=2000\n\n" +
             std::string(" Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n") +
             " Strand=Plus/Plus\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n\n" + blast_plus_closing,
         "qseqid sseqid stitle", "q1\ts1\ts1 sub   ject\n"},
        {"EmptyReport", "", "std", ""},
    };
}

class Layout : public ::testing::TestWithParam<Case> {};

TEST_P(Layout, GivesItsRows) {
    const Case& c = GetParam();
    HspOutcome outcome = convert_hsps(c.report, c.fields);
    EXPECT_FALSE(outcome.failed) << outcome.message << " at line " << outcome.line_number;
    EXPECT_EQ(outcome.table, c.table);
    EXPECT_EQ(convert_hsps(with_crlf(c.report), c.fields, false, 5).table, c.table) << "CR LF, small blocks";
}

INSTANTIATE_TEST_SUITE_P(Reports, Layout, ::testing::ValuesIn(layouts()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct Refusal {
    const char* name;
    std::string report;
    std::string table;  // the rows written before the failure
    std::string message;
    std::uint64_t line_number;
};

void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }

std::vector<Refusal> refusals() {
    const std::string first_rows = "q1\ts1\t90.000\t20\t1\t1\t1\t19\t11\t30\t1e-05\t30.0\n";
    std::size_t second_alignment = blastn_report.find(" Score = 20.0");
    std::size_t cut_inside = blastn_report.find("Sbjct  80");
    return {
        {"DamagedBzip2File", "BZh91AY&SY\x8f\x00\n> a b c\n"s, "", "cannot read report 'report': bzip2 data is corrupt",
         0},
        {"UnknownBinaryFile", "\x89PNG\x1a\x00\n> a b c\n"s, "",
         "not a BLAST text report: it begins with \"\\x89PNG\\x1a\\x00\"", 1},
        {"XmlFile", "<?xml version=\"1.0\"?>\n<BlastOutput>\n", "",
         "cannot read report 'report': it is an XML document, not a BLAST text report", 0},
        {"XmlFileAfterBlankLines", "\n<?xml version=\"1.0\"?>\n<BlastOutput>\n", "",
         "not a BLAST text report: it begins with \"<?xml version=\\\"1.0\\\"?>\"", 2},
        {"TabularFile", "\n\nq1\ts1\t100.000\t20\n", "",
         "not a BLAST text report: it begins with \"q1\\ts1\\t100.000\\t20\"", 3},
        {"TruncatedInsideAnAlignment", blastn_report.substr(0, cut_inside), first_rows,
         "the report ends early, inside the alignment that begins at line 34", 39},
        {"TruncatedBeforeItsSbjctLine", blastn_report.substr(0, cut_inside - 22), first_rows,
         "the report ends early, inside the alignment that begins at line 34", 38},
        {"TruncatedInsideAnAlignmentLine", blastn_report.substr(0, cut_inside - 30), first_rows,
         "an alignment line that is not \"Query START RESIDUES END\"", 38},
        {"TruncatedAfterAFullLineOfALongerAlignment",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/12 (83%), Gaps = 0/12 (0%)\n\n"
             "Query  5   ACGTACGTAC  14\n           ||||||||||\nSbjct  80  ACGTACGTAC  71\n\n" +
             blast_plus_closing,
         first_rows, "the alignment that begins at line 34 ends after 10 of its 12 columns", 41},
        {"ScoreLineWithoutBits", blastn_report.substr(0, second_alignment) + " Score = 20.0 points\n", first_rows,
         "a Score line without a bit score", 34},
        {"ScoreLineWithoutExpect", blastn_report.substr(0, second_alignment) + " Score = 20.0 bits (20)\n", first_rows,
         "a Score line without an Expect value", 34},
        {"IdentitiesWithoutFraction",
         blastn_report.substr(0, second_alignment) + " Score = 20.0 bits (20),  Expect = 0.5\n Identities = all\n",
         first_rows, "an Identities line without \"N/LENGTH\"", 35},
        {"AlignmentLineWithoutEnd",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/10 (100%)\n\nQuery  5   ACGTACGTAC\n",
         first_rows, "an alignment line that is not \"Query START RESIDUES END\"", 37},
        {"AlignmentLineStartOfEightBytesNotANumber",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/10 (100%)\n\nQuery  1234567x  ACGTACGTAC  14\n",
         first_rows, "an alignment line that is not \"Query START RESIDUES END\"", 37},
        {"AlignmentLineEndNotANumber",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/10 (100%)\n\nQuery  5  ACGTACGTAC  1234567x\n",
         first_rows, "an alignment line that is not \"Query START RESIDUES END\"", 37},
        {"SbjctLineOutOfStep",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/10 (100%)\n\n"
             "Query  5   ACGTACGTAC  14\nSbjct  80  ACGTACGTA  72\n",
         first_rows, "a Sbjct line whose residues do not line up with its Query line", 38},
        {"AlignmentBeforeItsIdentities",
         blastn_report.substr(0, second_alignment) + " Score = 20.0 bits (20),  Expect = 0.5\n\nQuery  5   ACG  7\n",
         first_rows, "an alignment before its Identities line", 36},
        // What BLAST never writes: values that are not numbers, counts
        // beyond the alignment's columns, coordinates past the sequence.
        {"BitScoreNotANumber", blastn_report.substr(0, second_alignment) + " Score = XX bits (20),  Expect = 0.5\n",
         first_rows, "a Score line whose bit score is not a number", 34},
        {"TabAfterTheExpectValue",
         blastn_report.substr(0, second_alignment) + " Score = 20.0 bits (20),  Expect = 0.5\t\n", first_rows,
         "a Score line whose Expect value is not a number", 34},
        {"IdentitiesBeyondTheColumns",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 999/10 (100%), Gaps = 0/10 (0%)\n\n"
             "Query  5   ACGTACGTAC  14\n           ||||||||||\nSbjct  80  ACGTACGTAC  71\n\n" +
             blast_plus_closing,
         first_rows, "an Identities line whose counts do not fit the alignment's 10 columns", 34},
        {"GapsBeyondTheColumns",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/10 (100%), Gaps = 500/10 (0%)\n\n"
             "Query  5   ACGTACGTAC  14\n           ||||||||||\nSbjct  80  ACGTACGTAC  71\n\n" +
             blast_plus_closing,
         first_rows, "an Identities line whose counts do not fit the alignment's 10 columns", 34},
        {"AlignmentPastTheEndOfItsQuery",
         blastn_report.substr(0, second_alignment) +
             " Score = 20.0 bits (20),  Expect = 0.5\n Identities = 10/10 (100%), Gaps = 0/10 (0%)\n\n"
             "Query  35  ACGTACGTAC  44\n           ||||||||||\nSbjct  80  ACGTACGTAC  71\n\n" +
             blast_plus_closing,
         first_rows, "an alignment past the end of its query, of 40 letters", 34},
        {"QueryAnchoredAlignment",
         "BLASTN 2.12.0+\n\nQuery= q1\n\nLength=40\n"
         "Sequences producing significant alignments:                          (Bits)  Value\n\n"
         "s1 subject one                                                        30.0    1e-05\n\n\n"
         "Query_1  1    CAGATTTTCA  10\n0        1    .....A....  10\n\n" +
             blast_plus_closing,
         "", "a query-anchored alignment (BLAST's -outfmt 1 to 4): hsptab reads pairwise reports (-outfmt 0)", 11},
        {"WebQueryIdWithASpace", "Program: BLASTN \nDatabase: nt\nQuery #1: q1 Query ID: lcl|Query 1 Length: 40\n", "",
         "a Query ID that holds a space or a tab", 3},
        {"WebSequenceIdWithATab",
         "Program: BLASTN \nDatabase: nt\nQuery #1: q1 Query ID: lcl|Query_1 Length: 40\n\nAlignments:\n\n"
         ">subject one\nSequence ID: S1\t.1 Length: 2000\n",
         "", "a Sequence ID that holds a space or a tab", 8},
        {"EndsInsideTheQueryDefinition", "BLASTN 2.12.0+\n\nQuery= q1 first", "",
         "the report ends early, inside the definition of the query", 3},
    };
}

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refused, KeepsEarlierRowsAndNamesTheLine) {
    const Refusal& c = GetParam();
    HspOutcome outcome = convert_hsps(c.report, "std");
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.table, c.table);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.line_number, c.line_number);
}

INSTANTIATE_TEST_SUITE_P(Reports, Refused, ::testing::ValuesIn(refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hittab::tests
