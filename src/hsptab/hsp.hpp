// One alignment (HSP) as a report shows it, with what its query, subject
// and program say about it: everything the table's fields are made from.
#pragma once

#include <cstdint>
#include <string>

namespace hittab::hsptab {

// What the program searched with and against, which decides frames and strands.
enum class SearchKind {
    nucleotide,          // blastn: both strands of nucleotides
    protein,             // blastp, psiblast, rpsblast, deltablast
    translated_query,    // blastx, rpstblastn
    translated_subject,  // tblastn
    translated_both,     // tblastx
};

// One BLAST run: a program line and what follows it, up to the next.
struct Run {
    std::string program_line;  // "BLASTN 2.12.0+", as the report writes it
    SearchKind kind = SearchKind::nucleotide;
    std::string database;         // empty when the report names none
    bool legacy = false;          // written by blastall, before BLAST+
    bool profiles = false;        // rpsblast, rpstblastn: subjects are profiles of a profile database
    bool subjects_given = false;  // the subjects came with -subject, not from a database
    std::uint64_t round = 0;      // psiblast: the round being read, 0 for other programs
    std::uint64_t queries = 0;
};

struct Query {
    std::string definition;  // the whole definition line, words joined by single spaces
    std::string id;          // its first word, or the ID the web layout gives
    std::uint64_t length = 0;
    std::uint64_t round = 0;  // psiblast: the round this query's results belong to
};

struct Subject {
    // Back to a fresh record, keeping the room its strings have.
    void reset() {
        title.clear();
        id.clear();
        length = 0;
    }

    std::string title;  // the whole title, words joined by single spaces
    std::string id;     // its first word, or the first ID the web layout gives
    std::uint64_t length = 0;
};

struct Hsp {
    // Back to a fresh record, keeping the room its strings have: every
    // member below, field by field.
    void reset() {
        bit_score.clear();
        raw_score.clear();
        evalue.clear();
        identities = positives = gaps = length = 0;
        has_positives = has_gaps_line = false;
        counted_gaps = 0;
        subject_minus = false;
        query_frame = subject_frame = 0;
        has_frame_line = false;
        query_start = query_end = subject_start = subject_end = 0;
        aligned = query_letters = gap_opens = 0;
        query_in_gap = subject_in_gap = false;
        query_sequence.clear();
        subject_sequence.clear();
    }

    std::string bit_score;  // as the report writes it
    std::string raw_score;  // the number in parentheses after "bits"
    std::string evalue;     // as a number any program reads: "1e-102", never "e-102,"
    std::uint64_t identities = 0;
    std::uint64_t positives = 0;  // the identities where the report gives no Positives
    std::uint64_t gaps = 0;       // the gap columns, as counted in the alignment
    std::uint64_t length = 0;     // the alignment's length, gaps included, as its Identities line says
    bool has_positives = false;
    bool has_gaps_line = false;      // the Identities line gives Gaps (legacy ones do not)
    std::uint64_t counted_gaps = 0;  // gap columns read so far
    bool subject_minus = false;      // blastn: the subject's strand
    int query_frame = 0;             // 0 where the report has none
    int subject_frame = 0;
    bool has_frame_line = false;

    std::uint64_t query_start = 0, query_end = 0;
    std::uint64_t subject_start = 0, subject_end = 0;
    std::uint64_t aligned = 0;        // alignment columns read so far
    std::uint64_t query_letters = 0;  // the query's residues in them, gaps left out
    std::uint64_t gap_opens = 0;
    bool query_in_gap = false, subject_in_gap = false;  // the last column read was a gap
    std::string query_sequence, subject_sequence;       // kept only when a field needs them
};

}  // namespace hittab::hsptab
