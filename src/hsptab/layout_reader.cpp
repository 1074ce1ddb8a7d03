#include "layout_reader.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "failure.hpp"
#include "hsp_lines.hpp"
#include "line_starts.hpp"
#include "marked_lines.hpp"
#include "part_size.hpp"
#include "text_words.hpp"

namespace hittab::hsptab {

namespace {

SearchKind kind_of(std::string_view program) {
    if (program == "BLASTN" || program == "PHIBLASTN") return SearchKind::nucleotide;
    if (program == "BLASTX" || program == "RPSTBLASTN") return SearchKind::translated_query;
    if (program == "TBLASTN") return SearchKind::translated_subject;
    if (program == "TBLASTX") return SearchKind::translated_both;
    return SearchKind::protein;
}

// A line shown in a failure report: printable, and short.
std::string shown(std::string_view line) {
    std::string text;
    for (char c : line.substr(0, 60)) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (c == '\t') {
            text += "\\t";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            static const char hex[] = "0123456789abcdef";
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 15];
        }
    }
    if (line.size() > 60) text += "...";
    return text;
}

// BLAST's IDs are single words.
bool holds_whitespace(std::string_view id) { return std::any_of(id.begin(), id.end(), is_space); }

}  // namespace

LayoutReader::LayoutReader(std::string path, FieldWriter& writer, const Kernel& kernel)
    : path_(std::move(path)), writer_(writer), kernel_(kernel) {
    alignment_.keep_sequences = writer.needs_sequences();
}

void LayoutReader::fail(const std::string& message, std::uint64_t line_number) const {
    throw layout_failure(message, line_number);
}

void LayoutReader::read_lines(PaddedView lines, std::uint64_t& line_number) {
    if (!lines.empty()) last_line_ended_ = lines.data()[lines.size() - 1] == '\n';
    // Long text is read in parts cut at line ends, so that a part's bytes
    // and marks are still in cache when its lines are read.
    while (lines.size() > part_size) {
        const void* line_feed = std::memchr(lines.data() + part_size, '\n', lines.size() - part_size);
        if (line_feed == nullptr) break;
        auto size = static_cast<std::size_t>(static_cast<const char*>(line_feed) - lines.data()) + 1;
        read_part(lines.substr(0, size), line_number);
        lines = lines.substr(size);
    }
    read_part(lines, line_number);
}

void LayoutReader::read_part(PaddedView lines, std::uint64_t& line_number) {
    // One window more than the text has, zeroed, for marks_from.
    std::size_t windows = (lines.size() + 63) / 64;
    // Grown only: every mask the text needs is written below.
    if (masks_.size() < windows + 1) masks_.resize(windows + 1);
    kernel_.mark_alignment_bytes(lines, masks_.data());
    masks_[windows] = AlignmentMasks{0, 0, 0};
    MarkedLines marked{lines.data(), masks_.data(), windows};
    const bool quick = quick_readers_first;
    const char* end = lines.data() + lines.size();
    for (const char* start = lines.data(); start < end;) {
        // A line of one space and a letter (Identities, Strand) is no
        // alignment line, blank line or midline.
        if (place_ == Place::in_hsp && (start[0] != ' ' || start[1] == ' ')) {
            start = read_alignment(marked, start, end, line_number, hsp_, alignment_);
            if (start >= end) break;
        }
        // A blank line changes nothing but inside a query's definition or
        // a subject's title, which it may end.
        if (*start == '\n' && place_ != Place::query_definition && place_ != Place::subject_title) {
            // After a blank line, a list of subjects may go on with another
            // kind of line.
            if (place_ == Place::summary) list_line_after_blank_ = true;
            ++start;
            ++line_number;
            continue;
        }
        const char* line_end = find_marked<&AlignmentMasks::line_feeds>(marked, start, end);
        std::string_view line(start, static_cast<std::size_t>(line_end - start));
        start = line_end + 1;
        ++line_number;
        if (quick) {
            // An alignment's Score, Identities and Strand lines, a subject's
            // title and the Length line after it go straight to where
            // read_line would send them.
            if (line.size() > 2 && line[0] == ' ') {
                if (place_ == Place::in_hsp && (line[1] == 'I' || (line[1] == 'S' && line[2] == 't'))) {
                    if (const char* failure = read_hsp_line(line, run_.kind, hsp_)) fail(failure, line_number);
                    continue;
                }
                if ((place_ == Place::in_subject || place_ == Place::in_hsp) && starts_with(line, " Score =")) {
                    if (place_ == Place::in_hsp) finish_hsp(line_number);
                    start_hsp(line, line_number);
                    continue;
                }
            }
            if (line[0] == '>' &&
                (place_ == Place::in_query || place_ == Place::in_subject || place_ == Place::in_hsp)) {
                if (place_ == Place::in_hsp) finish_hsp(line_number);
                start_subject(line.substr(1));
                continue;
            }
            // A line of the list of subjects.
            if (place_ == Place::summary && !may_matter_between_alignments(line)) {
                read_summary(LineKind::other, line, line_number);
                continue;
            }
            if (place_ == Place::subject_title) {
                // The usual end of a BLAST+ title: its Length line, then a
                // blank line.
                if (line[0] == 'L' && start < end && *start == '\n' && !title_length_pending_ && !title_ended_ &&
                    is_length_line(line)) {
                    read_subject_length(line, line_number);
                    ++start;
                    ++line_number;
                    continue;
                }
                read_subject_title(line[0] == '>' ? LineKind::subject_title : LineKind::other, line, line_number);
                continue;
            }
            // Between alignments, the list of subjects and the statistics
            // are passed over on their first two bytes.
            if ((place_ == Place::in_query || place_ == Place::in_subject) && !may_matter_between_alignments(line)) {
                continue;
            }
        }
        read_line(line, line_number);
    }
}

// Any line read_part leaves: first the lines that mean the same in every
// place after a program line, then the place's own.
void LayoutReader::read_line(std::string_view line, std::uint64_t line_number) {
    LineKind kind = kind_of_line(line);
    // Inside a title or a definition, a line is the text's whatever it
    // begins with.
    if (place_ == Place::subject_title) {
        read_subject_title(kind, line, line_number);
        return;
    }
    if (place_ == Place::query_definition && !definition_line_.ended) {
        read_query_definition(line, line_number);
        return;
    }
    std::string_view name;
    if (kind == LineKind::program && is_program_line(line, name)) {
        start_program(line, name, line_number);
        return;
    }
    if (knows_run()) {
        if (kind == LineKind::query && (starts_with(line, "Query= ") || line == "Query=")) {
            start_query(std::string_view(), line_number);
            begin_definition(line);
            place_ = Place::query_definition;
            return;
        }
        if (kind == LineKind::query_number) {
            read_query_number_line(line, line_number);
            return;
        }
    }
    switch (place_) {
        case Place::before_program: read_before_program(line, line_number); return;
        case Place::web_preamble: read_web_preamble(line, line_number); return;
        case Place::query_definition: read_query_definition(line, line_number); return;
        case Place::subject_title: read_subject_title(kind, line, line_number); return;
        case Place::web_more_titles: read_web_more_titles(line); return;
        case Place::summary: read_summary(kind, line, line_number); return;
        case Place::in_hsp: read_in_hsp(kind, line, line_number); return;
        case Place::in_run:
        case Place::in_query:
        case Place::in_subject: read_between_alignments(kind, line, line_number); return;
    }
}

void LayoutReader::read_between_alignments(LineKind kind, std::string_view line, std::uint64_t line_number) {
    switch (kind) {
        case LineKind::database:
            if (place_ != Place::in_subject) read_database(line);
            return;
        case LineKind::subject_title:
            if (place_ == Place::in_run) fail("a subject before any query", line_number);
            start_subject(line.substr(1));
            return;
        case LineKind::round: read_round(line); return;
        case LineKind::score:
            if (place_ != Place::in_subject) fail("a Score line outside any subject", line_number);
            start_hsp(line, line_number);
            return;
        case LineKind::lambda:
        case LineKind::matrix: read_closing_line(kind); return;
        case LineKind::summary:
            if (place_ == Place::in_query) {
                place_ = Place::summary;
                list_line_after_blank_ = false;
            }
            return;
        case LineKind::reference:
            if (place_ == Place::in_run) cited_ = true;
            return;
        case LineKind::pattern:
            if (place_ != Place::in_run) read_pattern_occurrence();
            return;
        case LineKind::other:
        case LineKind::program:
        case LineKind::query:
        case LineKind::query_number: return;
    }
}

void LayoutReader::read_before_program(std::string_view line, std::uint64_t line_number) {
    if (trim(line).empty()) return;
    if (starts_with(line, "RID:")) {
        place_ = Place::web_preamble;
        return;
    }
    if (starts_with(line, "Program:") && is_known_program(trim(line.substr(8)))) {
        std::string_view program = trim(line.substr(8));
        start_program(program, program, line_number);
        return;
    }
    fail("not a BLAST text report: it begins with \"" + shown(line) + "\"", line_number);
}

void LayoutReader::read_web_preamble(std::string_view line, std::uint64_t line_number) {
    if (starts_with(line, "Program:") && is_known_program(trim(line.substr(8)))) {
        std::string_view program = trim(line.substr(8));
        start_program(program, program, line_number);
    } else if (!starts_with(line, "Job Title:") && !trim(line).empty()) {
        fail("not a BLAST text report: a web report without its \"Program:\" line", line_number);
    }
}

// "Query #1: DEFINITION Query ID: ID Length: 239", the web layout's.
void LayoutReader::read_query_number_line(std::string_view line, std::uint64_t line_number) {
    std::size_t colon = line.find(": ");
    std::size_t id_at = line.rfind(" Query ID: ");
    std::size_t length_at = line.rfind(" Length: ");
    if (colon == std::string_view::npos || id_at == std::string_view::npos || length_at == std::string_view::npos ||
        length_at < id_at) {
        fail("a \"Query #\" line without its Query ID and Length", line_number);
    }
    start_query(line.substr(colon + 2, id_at - colon - 2), line_number);
    // The page names sequences by accession.version, as BLAST's own
    // tables do: "gb|WXX52402.1" is WXX52402.1, "lcl|Query_78041" Query_78041.
    std::string_view id = trim(line.substr(id_at + 11, length_at - id_at - 11));
    std::size_t bar = id.find_last_of('|', id.size() > 1 ? id.size() - 2 : 0);
    if (bar != std::string_view::npos && bar + 1 < id.size()) id.remove_prefix(bar + 1);
    if (!id.empty() && id.back() == '|') id.remove_suffix(1);
    if (holds_whitespace(id)) fail("a Query ID that holds a space or a tab", line_number);
    query_.id = std::string(id);
    std::string_view length = trim(line.substr(length_at + 9));
    if (!take_number(length, query_.length)) fail("a query length that is not a number", line_number);
    place_ = Place::in_query;
}

// Further titles and IDs of sequences identical to the first.
void LayoutReader::read_web_more_titles(std::string_view line) {
    if (starts_with(line, "Range ")) place_ = Place::in_subject;
}

void LayoutReader::read_in_hsp(LineKind kind, std::string_view line, std::uint64_t line_number) {
    switch (kind) {
        case LineKind::subject_title:
            finish_hsp(line_number);
            start_subject(line.substr(1));
            return;
        case LineKind::score:
            finish_hsp(line_number);
            start_hsp(line, line_number);
            return;
        case LineKind::round:
            finish_hsp(line_number);
            read_round(line);
            return;
        case LineKind::pattern:
            finish_hsp(line_number);
            read_pattern_occurrence();
            return;
        case LineKind::lambda:
        case LineKind::matrix:
            finish_hsp(line_number);
            read_closing_line(kind);
            return;
        case LineKind::other:
        case LineKind::program:
        case LineKind::query:
        case LineKind::query_number:
        case LineKind::database:
        case LineKind::summary:
        case LineKind::reference: break;
    }
    if (starts_with(line, "Range ") || starts_with(line, "  Database:") ||
        starts_with(line, "Effective search space")) {
        finish_hsp(line_number);
        return;
    }
    // DIAMOND writes "BLASTP 2.3.0+" over its blastx reports too: there, a
    // Frame line is the translated query's.
    if (run_.kind == SearchKind::protein && run_.closing == RunClosing::none && !web_layout() &&
        starts_with(skip_spaces(line), "Frame")) {
        run_.kind = SearchKind::translated_query;
    }
    if (const char* failure = read_hsp_line(line, run_.kind, hsp_)) fail(failure, line_number);
}

void LayoutReader::start_program(std::string_view program_line, std::string_view name, std::uint64_t line_number) {
    // A run cut short, then another report after it.
    if (knows_run() && run_.queries == 0) settle_closing();
    if (knows_run() && !run_closed())
        fail("the BLAST run before this line ends early: " + missing_closing_lines(), line_number);
    if (place_ == Place::in_hsp) finish_hsp(line_number);
    finish_query();
    if (knows_run()) writer_.end_run(run_);
    run_ = Run();
    ++programs_read_;
    run_.program_line = std::string(trim(program_line));
    run_.kind = kind_of(name);
    run_.profiles = name == "RPSBLAST" || name == "RPSTBLASTN";
    // BLAST+ writes "2.12.0+", the web page "Program: BLASTN"; blastall a bare version.
    run_.legacy = run_.program_line.back() != '+' && run_.program_line.find(' ') != std::string::npos;
    bool web = run_.program_line.find(' ') == std::string::npos;
    run_.web = web;
    run_.closing = web ? RunClosing::none : run_.legacy ? RunClosing::lambda_line : RunClosing::matrix_line;
    closing_ = Closing::open;
    closing_settled_ = false;
    cited_ = false;
    place_ = Place::in_run;
}

void LayoutReader::settle_closing() {
    if (closing_settled_) return;
    closing_settled_ = true;
    // DIAMOND writes BLAST's pairwise layout under "BLASTP 2.3.0+" (or
    // BLASTX), without BLAST+'s references and without its closing lines.
    if (!cited_ && run_.closing == RunClosing::matrix_line && ends_with(run_.program_line, " 2.3.0+")) {
        run_.closing = RunClosing::none;
    }
}

void LayoutReader::start_query(std::string_view definition, std::uint64_t line_number) {
    if (place_ == Place::in_hsp) finish_hsp(line_number);
    finish_query();
    if (run_.queries == 0) settle_closing();
    query_ = Query();
    query_.round = run_.round;
    append_wrapped(query_.definition, definition);
    query_open_ = true;
    pattern_place_read_ = false;
    closing_ = Closing::open;
    listed_subjects_ = aligned_subjects_ = 0;
    ++run_.queries;
    if (run_.round <= 1) ++run_.first_round_queries;
    writer_.begin_query(run_, query_);
}

void LayoutReader::read_round(std::string_view line) {
    // psiblast: "Results from round 2" before each round's Query= line.
    std::string_view number = skip_spaces(line.substr(18));
    std::uint64_t round = 0;
    if (take_number(number, round)) run_.round = round;
}

void LayoutReader::read_database(std::string_view line) {
    std::string_view database = trim(line.substr(10));
    // "User specified sequence set (Input: s.fa).": subjects given with -subject.
    run_.subjects_given = starts_with(database, "User specified sequence set");
    if (run_.subjects_given && !database.empty() && database.back() == '.') database.remove_suffix(1);
    run_.database = std::string(database);
}

void LayoutReader::start_hsp(std::string_view line, std::uint64_t line_number) {
    // A fresh record that keeps the room its strings had.
    hsp_.reset();
    hsp_line_number_ = line_number;
    alignment_.awaiting_subject_line = false;
    closing_ = Closing::open;
    if (!subject_aligned_) ++aligned_subjects_;
    if (aligned_subjects_ == 1 && !subject_aligned_ && query_.round <= 1) ++run_.first_round_queries_aligned;
    subject_aligned_ = true;
    if (const char* failure = read_score_line(line, hsp_)) fail(failure, line_number);
    place_ = Place::in_hsp;
}

void LayoutReader::finish_hsp(std::uint64_t line_number) {
    place_ = Place::in_subject;
    if (hsp_.length == 0) fail("an alignment without its Identities line", hsp_line_number_);
    // The Identities line's length counts every column; in some legacy
    // reports it leaves out the gap columns.
    std::uint64_t stated_gaps = hsp_.has_gaps_line ? hsp_.gaps : hsp_.counted_gaps;
    bool complete = hsp_.aligned == hsp_.length || (run_.legacy && hsp_.aligned == hsp_.length + stated_gaps);
    if (alignment_.awaiting_subject_line || !complete) {
        fail("the alignment that begins at line " + std::to_string(hsp_line_number_) + " ends after " +
                 std::to_string(hsp_.aligned) + " of its " + std::to_string(hsp_.length) + " columns",
             line_number);
    }
    std::string failure = contradiction(hsp_, run_.kind, query_.length, subject_.length);
    if (!failure.empty()) fail(failure, hsp_line_number_);
    settle_hsp(hsp_, run_, query_.length, subject_.length);
    writer_.row(run_, query_, subject_, hsp_);
}

void LayoutReader::finish(std::uint64_t last_line_number) {
    end_last_query(last_line_number);
    if (knows_run()) writer_.end_run(run_);
}

}  // namespace hittab::hsptab
