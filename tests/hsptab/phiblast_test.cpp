// PHI-BLAST (psiblast -phi_pattern): the lines that say where the query
// holds the pattern, the pattern line over each alignment, and BLAST's
// commented table, which gives each place of the pattern its own lines.
#include <gtest/gtest.h>

#include <string>

#include "hsp_conversion.hpp"

namespace hittab::tests {
namespace {

std::string alignment(const std::string& score, int subject_start) {
    return " Score = " + score + " bits (100),  Expect = 1e-10\n" +
           " Identities = 5/5 (100%), Positives = 5/5 (100%), Gaps = 0/5 (0%)\n\n"
           "pattern                 ***  \n"
           "Query    1    GASCG  5\n              GASCG\n"
           "Sbjct    " +
           std::to_string(subject_start) + "    GASCG  " + std::to_string(subject_start + 4) + "\n\n\n";
}

std::string round_of(int round, const std::string& places) {
    return "Results from round " + std::to_string(round) +
           "\n\n\nQuery= pq1 phi query\n\nLength=5\n"
           "2 occurrence(s) of pattern: \n S-X-G at position(s) 3 of query sequence\n"
           "pattern probability=0.000387471\n"
           "                                                                      Score     E\n"
           "Sequences producing significant alignments:                          (Bits)  Value\n\n"
           "ps1 subject one                                                      20.0    1e-10\n"
           "ps2 subject two                                                      20.0    1e-10\n\n\n" +
           places;
}

const std::string phiblast_report =
    "PHIBLASTP 2.12.0+\n\n\nReference: Stephen F. Altschul\n\n\n\nDatabase: db\n           2 sequences; 10 total "
    "letters\n\n" +
    round_of(1, "Significant alignments for pattern occurrence 1 at position 3\n\n>ps1 subject one\nLength=9\n\n" +
                    alignment("20.0", 1) + ">ps2 subject two\nLength=9\n\n" + alignment("20.0", 2) +
                    "Significant alignments for pattern occurrence 2 at position 3\n\n>ps1 subject one\nLength=9\n\n" +
                    alignment("19.0", 3)) +
    round_of(2, ">ps1 subject one\nLength=9\n\n" + alignment("20.0", 1) + ">ps2 subject two\nLength=9\n\n" +
                    alignment("20.0", 2)) +
    "Lambda      K        H        a         alpha\n   0.270   0.0470     1.00     0.00     0.00 \n\n"
    "Effective search space used: 720\n\n\n  Database: db\n    Posted date:  Dec 10, 2026  1:40 AM\n"
    "  Number of letters in database: 10\n  Number of sequences in database:  2\n\n\n\n"
    "Matrix: BLOSUM62\nGap Penalties: Existence: 11, Extension: 1\n";

TEST(Phiblast, EachPlaceOfThePatternHasItsOwnCommentLines) {
    HspOutcome rows = convert_hsps(phiblast_report, "sseqid sstart bitscore");
    ASSERT_FALSE(rows.failed) << rows.message;
    EXPECT_EQ(rows.table, "ps1\t1\t20.0\nps2\t2\t20.0\nps1\t3\t19.0\nps1\t1\t20.0\nps2\t2\t20.0\n");
    EXPECT_EQ(rows.warning, "");

    HspOutcome comments = convert_hsps(phiblast_report, "sseqid", true);
    ASSERT_FALSE(comments.failed) << comments.message;
    const std::string block =
        "# PHIBLASTP 2.12.0+\n# Iteration: {R}\n# Query: pq1 phi query\n# Database: db\n"
        "# Fields: subject id\n# {N} hits found\n";
    auto block_of = [&](const std::string& round, const std::string& hits) {
        std::string text = block;
        text.replace(text.find("{R}"), 3, round);
        text.replace(text.find("{N}"), 3, hits);
        return text;
    };
    // A query is processed once, whatever its rounds.
    EXPECT_EQ(comments.table, block_of("1", "2") + "ps1\nps2\n" + block_of("1", "1") + "ps1\n" + block_of("2", "2") +
                                  "ps1\nps2\n# BLAST processed 1 queries\n");
    for (std::size_t stretch_size : {std::size_t{1}, std::size_t{64}, std::size_t{4096}}) {
        EXPECT_EQ(convert_hsps_in_stretches(phiblast_report, "sseqid", true, stretch_size).table, comments.table)
            << stretch_size;
    }
}

}  // namespace
}  // namespace hittab::tests
