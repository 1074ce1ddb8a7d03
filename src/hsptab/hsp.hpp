// One alignment (HSP) as a report shows it, with what its query, subject
// and program say about it: everything the table's fields are made from.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace hittab::hsptab {

// What the program searched with and against, which decides frames and strands.
enum class SearchKind {
    nucleotide,          // blastn: both strands of nucleotides
    protein,             // blastp, psiblast, rpsblast, deltablast
    translated_query,    // blastx, rpstblastn
    translated_subject,  // tblastn
    translated_both,     // tblastx
};

// The lines that close a run, by which a report cut anywhere before them is
// known to be cut.
enum class RunClosing {
    matrix_line,  // BLAST+: the statistics ("  Database: ..."), then "Matrix:" once, last
    lambda_line,  // blastall: the statistics after each query, "Lambda" among their first lines
    none,         // the web page's text download ends with its last alignment
};

// One BLAST run: a program line and what follows it, up to the next.
struct Run {
    std::string program_line;  // "BLASTN 2.12.0+", as the report writes it
    SearchKind kind = SearchKind::nucleotide;
    std::string database;  // empty when the report names none
    bool legacy = false;   // written by blastall, before BLAST+
    bool web = false;      // the web page's text download: "Program: BLASTN" names no version
    RunClosing closing = RunClosing::matrix_line;
    bool profiles = false;        // rpsblast, rpstblastn: subjects are profiles of a profile database
    bool subjects_given = false;  // the subjects came with -subject, not from a database
    std::uint64_t round = 0;      // psiblast: the round being read, 0 for other programs
    std::uint64_t queries = 0;
    std::uint64_t first_round_queries = 0;          // the queries begun, not counting psiblast's later rounds
    std::uint64_t first_round_queries_aligned = 0;  // of those, the queries that show an alignment
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

// A score or an E-value as the report writes it: a few bytes, kept inside
// the record and copied eight at a time, so that neither taking it from a
// line nor writing it into a row calls the library. A longer text, which
// only a damaged report has, is kept as a string.
class ShortText {
public:
    static constexpr std::size_t room = 32;

    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    char operator[](std::size_t at) const { return size_ > room ? long_[at] : bytes_[at]; }

    // `text` lies in padded report text, whose bytes can be read up to 7
    // past its end.
    void assign(std::string_view text) { assign_from(0, text); }
    // `first`, then `text`.
    void assign_after(char first, std::string_view text) {
        bytes_[0] = first;
        assign_from(1, text);
        if (size_ > room) long_.insert(long_.begin(), first);
    }

    // Writes the text at `out` and returns its end; up to 7 bytes past the
    // end are written too, which the row's next bytes overwrite.
    char* put(char* out) const {
        if (size_ > room) {
            std::memcpy(out, long_.data(), size_);
        } else {
            for (std::size_t at = 0; at < size_; at += 8) std::memcpy(out + at, bytes_ + at, 8);
        }
        return out + size_;
    }

private:
    void assign_from(std::size_t offset, std::string_view text) {
        size_ = offset + text.size();
        if (size_ > room) {
            long_.assign(text.data(), text.size());
            return;
        }
        // The last eight bytes copied end at most 7 past the room.
        assert(offset + text.size() <= room);
        for (std::size_t at = 0; at < text.size(); at += 8) std::memcpy(bytes_ + offset + at, text.data() + at, 8);
    }

    char bytes_[room + 8] = {};  // room for the last eight bytes copied
    std::size_t size_ = 0;
    std::string long_;
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

    ShortText bit_score;  // as the report writes it
    ShortText raw_score;  // the number in parentheses after "bits"
    ShortText evalue;     // as a number any program reads: "1e-102", never "e-102,"
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
