// Subjects' titles and queries' definitions as BLAST+ wraps them: a wrapped
// line may begin with anything a title holds, spacing stays as BLAST's
// table has it, long IDs are rejoined without a space, and sequences
// without a definition line get the names BLAST's table gives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hsp_conversion.hpp"

namespace hittab::tests {
namespace {

const std::string alignment =
    " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n"
    " Strand=Plus/Plus\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n\n\n";

std::string report_of(const std::string& query_lines, const std::string& subjects,
                      const std::string& program = "BLASTN 2.12.0+") {
    return program + "\n\n\nDatabase: db\n           2 sequences; 200 total letters\n\n\n\n" + query_lines +
           "\n\n***** No hits found *****\n\n" + subjects +
           "\nLambda      K        H\n    1.33    0.621     1.12 \n\n" + "Effective search space used: 2772145\n\n\n" +
           blast_plus_closing;
}

std::string one_query(const std::string& definition_lines) { return "Query= " + definition_lines + "\n\nLength=40\n"; }

std::string subject_of(const std::string& title_lines, const std::string& length = "100") {
    return ">" + title_lines + "\nLength=" + length + "\n\n" + alignment;
}

struct TitleCase {
    const char* what;
    std::string title_lines;  // after ">", as BLAST+ wrapped them
    std::string id;
    std::string title;
};

// A wrapped line is the title's whatever it begins with: the Length line
// is the one a blank line follows.
TEST(Titles, WrappedLinesBeginningAsOtherLinesDoStayInTheTitle) {
    // BLAST+ wraps a title after the first space 60 or more characters in.
    const std::string filler(57, 'w');
    const std::vector<TitleCase> cases = {
        {"a length", "s1 first words \nLength=1234 bp more", "s1", "s1 first words Length=1234 bp more"},
        {"a bare length, its last space lost", "s1 first words \nLength=77\nand more", "s1",
         "s1 first words Length=77 and more"},
        {"a length last", "s1 first words \nLength=77 \nLength=88", "s1", "s1 first words Length=77 Length=88"},
        {"a title", "s1 words \n>s2 not a subject", "s1", "s1 words >s2 not a subject"},
        {"a program", "s1 words \nBLASTN 2.12.0+ is in it", "s1", "s1 words BLASTN 2.12.0+ is in it"},
        {"a query", "s1 words \nQuery= q2 is in it", "s1", "s1 words Query= q2 is in it"},
        {"a score", "s1 " + filler + " \n Score = 12 bits", "s1", "s1 " + filler + "  Score = 12 bits"},
        {"a round", "s1 words \nResults from round 2", "s1", "s1 words Results from round 2"},
        {"the statistics", "s1 words \nLambda K H \n  Database: x", "s1", "s1 words Lambda K H   Database: x"},
        {"digits", "s1 words \n12345 67", "s1", "s1 words 12345 67"},
        {"spaces kept", "s1 a   b " + filler + " \n    c  d", "s1", "s1 a   b " + filler + "     c  d"},
        // A first line too short to have been wrapped, and one whose end
        // comes after the space BLAST+ would have wrapped at.
        {"merged after a short line", "s1 a b \n s2 c", "s1", "s1 a b "},
        {"merged after a line BLAST+ would have wrapped earlier", "s1 " + filler + " x \n s2 c", "s1",
         "s1 " + filler + " x "},
        {"spaces that end it", "s1 a b \n   ", "s1", "s1 a b    "},
        {"a tab", "s1 a\tb", "s1", "s1 a   b"},
        // An entry that stands for several: the further definition lines
        // begin with a space after a line that was not wrapped.
        {"merged entries", "AB1.1 first title\n AB2.1 second title\n NM3.1 third title that wraps \nhere", "AB1.1",
         "AB1.1 first title"},
        {"merged entries after a wrapped line", "AB1.1 first title that \nwraps\n AB2.1 second", "AB1.1",
         "AB1.1 first title that wraps"},
    };
    for (const TitleCase& c : cases) {
        std::string report = report_of(one_query("q1"), subject_of(c.title_lines) + subject_of("s9 next"));
        for (std::size_t block_size : {std::size_t{5}, default_block_size}) {
            HspOutcome outcome = convert_hsps(report, "sseqid stitle slen", false, block_size);
            ASSERT_FALSE(outcome.failed) << c.what << ": " << outcome.message;
            EXPECT_EQ(outcome.table, c.id + "\t" + c.title + "\t100\ns9\ts9 next\t100\n") << c.what;
        }
        // Read in pieces, which may begin at any line that looks like a
        // query's or a subject's first.
        for (std::size_t stretch_size : {std::size_t{1}, std::size_t{40}}) {
            EXPECT_EQ(convert_hsps_in_stretches(report, "sseqid stitle slen", false, stretch_size),
                      convert_hsps_as_given(report, "sseqid stitle slen", false, default_block_size))
                << c.what << ", stretches of " << stretch_size;
        }
    }
}

struct DefinitionCase {
    const char* what;
    std::string lines;  // after "Query= ", as BLAST+ wrapped them at 68 columns
    std::string definition;
};

// BLAST+ wraps a definition at the last space that fits, dropping it;
// failing a space, after the last hyphen or comma, then at 68 columns,
// which leave out "Query= " on the first line.
TEST(Titles, DefinitionsRejoinAsBlastWrappedThem) {
    const std::string hyphens_61 =
        "q-aaaaa-bbbbb-ccccc-ddddd-eeeee-fffff-ggggg-hhhhh-iiiii-jjjj-";  // cut after a hyphen
    const std::string cut_68(68, 'z');
    const std::vector<DefinitionCase> cases = {
        {"words", "q1 first words of a definition that BLAST\nwrapped at a space",
         "q1 first words of a definition that BLAST wrapped at a space"},
        {"an ID cut after a hyphen", hyphens_61 + "\nkkkkkkkkkk-llll more words",
         hyphens_61 + "kkkkkkkkkk-llll more words"},
        {"an ID cut after a comma", "q,aaaaa,bbbbb,ccccc,ddddd,eeeee,fffff,ggggg,hhhhh,iiiii,jjjj,\nkkkk",
         "q,aaaaa,bbbbb,ccccc,ddddd,eeeee,fffff,ggggg,hhhhh,iiiii,jjjj,kkkk"},
        {"a word cut at the width", "q1 words\n" + cut_68 + "\nzzzz end", "q1 words " + cut_68 + "zzzz end"},
        // A hyphen within the width on the next line: BLAST would have cut after it.
        {"a hyphen before a space", "q2-\nabc-def and more", "q2- abc-def and more"},
        // A full line holding a hyphen was not cut at the width.
        {"a full line with a hyphen", "q-" + std::string(66, 'y') + "\nnext", "q-" + std::string(66, 'y') + " next"},
        {"looks like a query", "q1 words\nQuery= not a query", "q1 words Query= not a query"},
        {"looks like a length", "q1 words\nLength=12", "q1 words Length=12"},
        {"looks like a program", "q1 words\nBLASTP 2.12.0+", "q1 words BLASTP 2.12.0+"},
    };
    for (const DefinitionCase& c : cases) {
        std::string report = report_of(one_query(c.lines), subject_of("s1 t"));
        HspOutcome outcome = convert_hsps(report, "qseqid sseqid", true);
        ASSERT_FALSE(outcome.failed) << c.what << ": " << outcome.message;
        std::string id = c.definition.substr(0, c.definition.find(' '));
        EXPECT_NE(outcome.table.find("# Query: " + c.definition + "\n"), std::string::npos) << c.what << "\n"
                                                                                            << outcome.table;
        EXPECT_NE(outcome.table.find("\n" + id + "\ts1\n"), std::string::npos) << c.what << "\n" << outcome.table;
    }
}

// NCBI's flat-file wrapping as BLAST+ applies it to a query's definition:
// at the last space that fits (dropping the spaces there), else after the
// last comma, else after the last hyphen, else at the width.
struct WrappedLine {
    std::string text;
    bool before_space;  // cut at a space
};

std::vector<WrappedLine> wrapped_as_blast_does(const std::string& text, std::size_t width = 68) {
    std::vector<WrappedLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text.size() - pos <= width) {
            lines.push_back({text.substr(pos), false});
            break;
        }
        enum { forced, punct, comma, space } best_score = forced;
        std::size_t best_pos = pos;
        for (std::size_t at = pos, column = 0; at < text.size() && column <= width; ++at, ++column) {
            auto score = forced;
            std::size_t score_pos = at;
            if (text[at] == ' ') {
                score = space;
            } else if ((text[at] == ',' || text[at] == '-') && column < width && at + 1 < text.size()) {
                score = text[at] == ',' ? comma : punct;
                ++score_pos;
            }
            if (score >= best_score && score_pos > pos) {
                best_pos = score_pos;
                best_score = score;
            }
        }
        lines.push_back({text.substr(pos, best_pos - pos), best_score == space});
        pos = best_pos;
        if (best_score == space) {
            while (pos < text.size() && text[pos] == ' ') ++pos;
        }
    }
    return lines;
}

// IDs of every length across the width, with and without hyphens and
// commas, then words: rejoined without a space where BLAST broke the ID.
TEST(Titles, IdsOfEveryLengthRejoinWhereverBlastBrokeThem) {
    std::mt19937 random(20261210);
    int left_out = 0;
    for (std::size_t length = 1; length <= 300; ++length) {
        for (const char* marks : {"", "-", "-,"}) {
            std::string id = "q";
            while (id.size() < length) {
                std::size_t segment = 1 + random() % 12;
                // A mark never ends the ID: before a space, it wraps as a cut does.
                if (*marks != '\0' && id.size() > 1 && id.size() + 1 < length && random() % 3 == 0) {
                    id += marks[random() % std::strlen(marks)];
                }
                for (std::size_t i = 0; i < segment && id.size() < length; ++i)
                    id += static_cast<char>('a' + random() % 26);
            }
            std::string definition = id + " a definition of " + std::to_string(length) + " after the ID";
            std::vector<WrappedLine> wrapped = wrapped_as_blast_does(definition);
            // A word that fills a whole line before a space wraps as one cut
            // at the width (the manual lists it as not carried).
            bool fills_a_line = std::any_of(wrapped.begin(), wrapped.end(), [](const WrappedLine& line) {
                return line.before_space && line.text.size() == 68 &&
                       line.text.substr(0, 67).find_first_of(" -,") == std::string::npos;
            });
            if (fills_a_line) {
                ++left_out;
                continue;
            }
            std::string lines;
            for (const WrappedLine& line : wrapped) lines += (lines.empty() ? "" : "\n") + line.text;
            HspOutcome outcome = convert_hsps_as_given(report_of(one_query(lines), subject_of("s1 t")), "qseqid", true,
                                                       default_block_size);
            ASSERT_FALSE(outcome.failed) << outcome.message;
            EXPECT_NE(outcome.table.find("# Query: " + definition + "\n"), std::string::npos) << lines;
            EXPECT_NE(outcome.table.find("\n" + id + "\n"), std::string::npos) << lines;
        }
    }
    EXPECT_LT(left_out, 30);  // of 900
}

// BLAST's table names a query without a definition line Query_N, N its
// place in the run; a subject without one by a place the report does not
// give.
TEST(Titles, SequencesWithoutADefinitionLine) {
    std::string queries = one_query("named") + "\n\n***** No hits found *****\n\n" +
                          "Query= \nLength=40\n\n\n***** No hits found *****\n\n" + "Query= \nLength=40\n";
    HspOutcome nucleotide =
        convert_hsps(report_of(queries, subject_of("") + subject_of("s2 t")), "qseqid sseqid stitle");
    ASSERT_FALSE(nucleotide.failed) << nucleotide.message;
    EXPECT_EQ(nucleotide.table, "Query_3\tN/A\tN/A\nQuery_3\ts2\ts2 t\n");
    EXPECT_NE(nucleotide.warning.find("1 subject is shown without a definition line"), std::string::npos)
        << nucleotide.warning;

    HspOutcome protein = convert_hsps(
        report_of(one_query("q1"), subject_of("unnamed protein product"), "BLASTP 2.12.0+"), "qseqid sseqid stitle");
    ASSERT_FALSE(protein.failed) << protein.message;
    EXPECT_EQ(protein.table, "q1\tunnamed\tN/A\n");
    EXPECT_EQ(protein.warning, "");
}

}  // namespace
}  // namespace hittab::tests
