// The ends of queries and runs: the list of subjects each query begins
// with, the statistics that close a run, and what a report may end in, so
// that a report cut short or listing subjects it does not show is known.
#include <algorithm>

#include "layout_reader.hpp"
#include "text_words.hpp"

namespace hittab::hsptab {

namespace {

// A line of a list of subjects that names one: not a heading ("Sequences
// used in model and found again:", the web page's column names).
bool names_listed_subject(std::string_view line, bool web) {
    if (line.empty() || line[0] == ' ' || line.back() == ':') return false;
    if (!web || line[0] != 'D') return true;
    std::string_view text = trim(line);
    return !(starts_with(text, "Description") && text.size() >= 9 && text.substr(text.size() - 9) == "Accession");
}

// "Query_1  1    CAGATTTTCATATTATG  60": a row of a query-anchored
// alignment (-outfmt 1 to 4), where a pairwise report lists its subjects,
// each line ending in a score and an E-value.
bool is_query_anchored_row(std::string_view line) {
    // Most lines are told by what follows their first word: a title's next
    // word, not a start coordinate of digits alone.
    std::string_view after = line;
    take_word(after);
    after = skip_spaces(after);
    std::size_t start_size = 0;
    while (start_size < after.size() && is_digit(after[start_size])) ++start_size;
    if (start_size == 0 || start_size == after.size() || after[start_size] != ' ') return false;
    std::string_view words[5];
    std::size_t count = 0;
    for (std::string_view rest = line; count < 5;) {
        rest = skip_spaces(rest);
        std::string_view word = take_word(rest);
        if (word.empty()) break;
        words[count++] = word;
    }
    auto digits = [](std::string_view word) { return std::all_of(word.begin(), word.end(), is_digit); };
    auto residues = [](std::string_view word) {
        return std::none_of(word.begin(), word.end(), [](char c) { return is_digit(c); });
    };
    return count == 4 && digits(words[1]) && residues(words[2]) && digits(words[3]);
}

}  // namespace

void UnalignedSubjects::add(const UnalignedSubjects& other) {
    if (queries == 0) first_query = other.first_query;
    queries += other.queries;
    listed += other.listed;
    unaligned += other.unaligned;
}

void LayoutReader::read_summary(LineKind kind, std::string_view line, std::uint64_t line_number) {
    if (kind == LineKind::other) {
        bool after_blank = list_line_after_blank_;
        list_line_after_blank_ = false;
        if (line[0] == 'A' && starts_with(line, "Alignments:")) {  // the web page's, after its list
            place_ = Place::in_query;
        } else if (after_blank && is_query_anchored_row(line)) {
            // Its first row follows the list and a blank line.
            fail("a query-anchored alignment (BLAST's -outfmt 1 to 4): hsptab reads pairwise reports (-outfmt 0)",
                 line_number);
        } else if (names_listed_subject(line, run_.closing == RunClosing::none)) {
            ++listed_subjects_;
        }
        return;
    }
    // The list ends where the alignments or the statistics begin.
    place_ = Place::in_query;
    read_between_alignments(kind, line, line_number);
}

// PHI-BLAST shows the alignments of each place the query holds the pattern
// apart, after a line that names the place; BLAST's commented table gives
// each place its own lines, the first place those of the query.
void LayoutReader::read_pattern_occurrence() {
    place_ = Place::in_query;
    if (pattern_place_read_) {
        writer_.end_query(run_, query_);
        writer_.begin_query(run_, query_);
    }
    pattern_place_read_ = true;
}

void LayoutReader::read_closing_line(LineKind kind) {
    // Between alignments (the list of subjects, titles and definitions are
    // read elsewhere), these lines are the statistics' own.
    if (kind == LineKind::matrix || run_.closing == RunClosing::lambda_line) closing_ = Closing::closed;
}

std::string LayoutReader::missing_closing_lines() const {
    switch (run_.closing) {
        case RunClosing::matrix_line:
            return "the statistics that close a BLAST+ run (\"  Database:\" ... \"Matrix:\") are missing";
        case RunClosing::lambda_line:
            return "the statistics that close a blastall query (\"  Database:\" ... \"Lambda\") are missing";
        case RunClosing::none: break;
    }
    return "the run has no end";
}

void LayoutReader::count_unaligned() {
    if (listed_subjects_ > aligned_subjects_) {
        unaligned_.add({1, listed_subjects_, listed_subjects_ - aligned_subjects_, query_.id});
    }
}

void LayoutReader::finish_query() {
    if (!query_open_) return;
    if (carried_query_open_) {
        // Its list, and the alignments before the piece, are read elsewhere.
        carried_query_open_ = false;
        carried_query_ended_ = true;
        carried_aligned_ = aligned_subjects_;
    } else {
        count_unaligned();
    }
    writer_.end_query(run_, query_);
    query_open_ = false;
}

void LayoutReader::end_last_query(std::uint64_t last_line_number) {
    if (knows_run() && run_.queries == 0) settle_closing();
    switch (place_) {
        case Place::query_definition:
            fail("the report ends early, inside the definition of the query", last_line_number);
        case Place::subject_title: fail("the report ends early, inside the title of a subject", last_line_number);
        case Place::summary: fail("the report ends early, inside the list of subjects", last_line_number);
        case Place::in_hsp:
            // Only a line end after the last alignment line shows that its
            // last number is whole.
            if (!run_closed() || !last_line_ended_) {
                fail("the report ends early, inside the alignment that begins at line " +
                         std::to_string(hsp_line_number_),
                     last_line_number);
            }
            finish_hsp(last_line_number);
            break;
        case Place::before_program: break;  // an empty table, and a warning
        case Place::web_preamble: fail("the report ends early, before its \"Program:\" line", last_line_number);
        case Place::in_run:
        case Place::in_query:
        case Place::web_more_titles:
        case Place::in_subject: break;
    }
    if (knows_run() && !run_closed()) fail("the report ends early: " + missing_closing_lines(), last_line_number);
    finish_query();
}

}  // namespace hittab::hsptab
