// The layout reader: follows a BLAST text report line by line, in any of the
// layouts BLAST has written (BLAST+ of every version, legacy blastall, the
// web page's text download), and hands each complete alignment to the field
// writer with its query, subject and program.
//
// Words used throughout: a run is one BLAST run, a program line and what
// follows it up to the next; a stretch is the bytes of the file one thread
// takes, and a piece what it converts of them, from a query line or a
// subject's title on; a part is the up to 128 KiB of lines marked and read
// at once (part_size.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "alignment_reader.hpp"
#include "field_writer.hpp"
#include "hsp.hpp"
#include "kernel.hpp"
#include "line_starts.hpp"
#include "padded_text.hpp"

namespace hittab::hsptab {

// What a piece read ahead of its turn takes from the lines before it, and
// what the reading in turn must have reached for the piece's rows to
// stand: the run open, whose count of queries each piece keeps apart.
struct RunState {
    Run run;
};

// Every field of the run that decides how the lines after it read, in one
// comparison: only the count of queries is left out.
inline bool operator==(const RunState& a, const RunState& b) {
    auto compared = [](const Run& run) {
        return std::tie(run.program_line, run.kind, run.database, run.legacy, run.closing, run.profiles,
                        run.subjects_given, run.round);
    };
    return compared(a.run) == compared(b.run);
}
inline bool operator!=(const RunState& a, const RunState& b) { return !(a == b); }

// Every field of a query that the rows read after its definition depend on.
inline bool same_query(const Query& a, const Query& b) {
    return std::tie(a.definition, a.id, a.length, a.round) == std::tie(b.definition, b.id, b.length, b.round);
}

// Subjects that the lists of a report name without showing an alignment of
// them (BLAST's -num_alignments below its -num_descriptions, or a web page
// cut short): rows that no table made from the report can have.
// The last line read of a query's definition.
struct DefinitionLine {
    std::size_t columns = 0;  // its width, after "Query= " on the first
    std::size_t begins = 0;   // where its text begins in the definition
    bool ended = false;       // a blank line has followed it
};

struct UnalignedSubjects {
    std::uint64_t queries = 0;    // the queries that list more subjects than they show
    std::uint64_t listed = 0;     // the subjects those queries list
    std::uint64_t unaligned = 0;  // of those, the subjects without an alignment
    std::string first_query;      // the first such query's ID

    void add(const UnalignedSubjects& other);
};

// What a conversion that did not fail has to say about its report.
struct ReportNotes {
    bool empty = false;  // nothing but blank lines, which give no rows
    UnalignedSubjects unaligned;
    std::uint64_t unnamed_subjects = 0;  // shown without a definition line, so without an ID
};

class LayoutReader {
public:
    // Reads the report named `path` (for failure reports) into `writer`,
    // with `kernel` marking the bytes that lines and alignments turn on.
    LayoutReader(std::string path, FieldWriter& writer, const Kernel& kernel);

    // Whole lines, each ending in LF except perhaps the report's last;
    // `line_number` is the number of the line before them, and becomes
    // that of their last line.
    void read_lines(PaddedView lines, std::uint64_t& line_number);

    // The end of the report: the run must have its closing lines, and the
    // last alignment must be complete.
    void finish(std::uint64_t last_line_number);

    // For a report read in pieces that each begin at a "Query=" line or at
    // a subject's title (">"): end_before_query does what such a query
    // line, at `line_number`, does to what is open (the last alignment's
    // row, the query's end); end_before_subject what a title does (the last
    // alignment's row); end_last_query does what the end of the report
    // does, short of ending the run.
    void end_before_query(std::uint64_t line_number);
    void end_before_subject(std::uint64_t line_number);
    void end_last_query(std::uint64_t last_line_number);

    // The report is an HTML page's text (html_text.hpp), wrapped as such.
    void read_as_html() { html_ = true; }

    // The run open, once a program line has opened one.
    std::optional<RunState> run_state() const;
    // The query open, if its definition has been read and no query or
    // run has ended it since.
    std::optional<Query> open_query() const;
    // Reads a piece as if the lines before it had left `state`, counting
    // its queries and program lines from 0: one that begins at a query
    // line, or, given the query open, one that begins at a subject's title.
    // The subjects such a query lists and shows before the piece are the
    // reader's that reads on into it (go_on_after).
    void start_piece(const RunState& state);
    void start_piece_in_query(const RunState& state, const Query& query);
    // Whether the lines read so far are inside a query's definition.
    bool reads_query_definition() const { return place_ == Place::query_definition; }
    // Whether the next line would be read for what it begins with, not as
    // more of a title or a definition: a piece may begin there.
    bool reads_next_line_anew() const;
    std::uint64_t programs_read() const { return programs_read_; }
    // What the lines read so far leave to say: the subjects their queries
    // list without an alignment, or that there were none but blank lines.
    ReportNotes notes() const { return {place_ == Place::before_program, unaligned_, unnamed_subjects_}; }
    // Whether a piece read a query that BLAST names by its place among the
    // run's queries, which only the reading in turn knows.
    bool named_query_by_number() const { return named_query_by_number_; }
    // Whether the next piece, read after start_piece(state), was read as
    // reading on from here reads it: the last query has ended and the run
    // open is the one it assumed; or, after start_piece_in_query(state,
    // query), that query is open here, in that run, where a title begins a
    // subject.
    bool continues_with(const RunState& state) const;
    bool continues_in_query_with(const RunState& state, const Query& query) const;
    // Goes on from where `piece`, the next piece, read on from here as
    // continues_with() or continues_in_query_with() allowed, has left off.
    void go_on_after(const LayoutReader& piece);

private:
    enum class Place {
        before_program,    // nothing read yet but blank lines
        web_preamble,      // "RID:" seen, "Program:" not yet
        in_run,            // between queries
        query_definition,  // after "Query=", before its length
        in_query,          // after the query's length
        summary,           // in the list of the query's subjects
        subject_title,     // after ">", before the subject's length
        web_more_titles,   // the web layout's further titles of the same subject
        in_subject,        // after the subject's length
        in_hsp,            // after a Score line
    };

    // Whether the lines that close the run have come since the last query,
    // subject or alignment began.
    enum class Closing { open, closed };

    bool web_layout() const { return run_.web; }
    bool knows_run() const { return place_ != Place::before_program && place_ != Place::web_preamble; }
    bool run_closed() const { return run_.closing == RunClosing::none || closing_ == Closing::closed; }

    // read_lines for one part: its bytes marked, then its lines read.
    void read_part(PaddedView lines, std::uint64_t& line_number);

    // Every line these are given lies in padded text: the bytes past its
    // end may be read. read_line takes any line; the functions after it
    // each take the lines of one place, with the line's kind where the
    // place turns on it.
    void read_line(std::string_view line, std::uint64_t line_number);
    void read_before_program(std::string_view line, std::uint64_t line_number);
    void read_web_preamble(std::string_view line, std::uint64_t line_number);
    // The first line of a query's definition, the "Query=" line itself.
    void begin_definition(std::string_view line);
    void read_query_definition(std::string_view line, std::uint64_t line_number);
    void end_definition();
    void read_query_number_line(std::string_view line, std::uint64_t line_number);
    void read_subject_title(LineKind kind, std::string_view line, std::uint64_t line_number);
    void append_title_line(std::string_view line);
    // What the subject's title shows of its definition line.
    enum class NameShown { definition, none, unnamed_protein };
    NameShown name_shown() const;
    // The web layout's "Sequence ID: ... Length: ..." line after a title.
    void read_sequence_id_line(std::string_view text, std::uint64_t line_number);
    void read_web_more_titles(std::string_view line);
    void read_summary(LineKind kind, std::string_view line, std::uint64_t line_number);
    void read_in_hsp(LineKind kind, std::string_view line, std::uint64_t line_number);
    void read_between_alignments(LineKind kind, std::string_view line, std::uint64_t line_number);

    void start_program(std::string_view program_line, std::string_view name, std::uint64_t line_number);
    // Before a run's first query (or its end, if it has none): whether the
    // run must close as BLAST+ closes it.
    void settle_closing();
    void start_query(std::string_view definition, std::uint64_t line_number);
    void start_subject(std::string_view title);
    void start_hsp(std::string_view line, std::uint64_t line_number);
    void read_round(std::string_view line);
    void read_pattern_occurrence();
    void read_database(std::string_view line);
    // A line of the statistics after the alignments: kind lambda or matrix.
    void read_closing_line(LineKind kind);
    // Why a run that has not closed ends early.
    std::string missing_closing_lines() const;
    // "Length=239" or "Length = 239" (`text`, trimmed) after a subject's title.
    void read_subject_length(std::string_view text, std::uint64_t line_number);
    void finish_hsp(std::uint64_t line_number);
    void finish_query();
    // A query's subjects listed without an alignment go to the notes.
    void count_unaligned();
    [[noreturn]] void fail(const std::string& message, std::uint64_t line_number) const;

    std::string path_;
    FieldWriter& writer_;
    const Kernel& kernel_;
    std::vector<AlignmentMasks> masks_;  // of the part being read
    Place place_ = Place::before_program;
    Run run_;
    Query query_;
    Subject subject_;
    Hsp hsp_;
    AlignmentProgress alignment_;
    bool query_open_ = false;
    DefinitionLine definition_line_;
    // A subject's title: a Length line that ends it if a blank line follows,
    // and whether a blank line has ended it without one.
    bool title_length_pending_ = false;
    std::string title_length_line_;
    std::uint64_t title_length_line_number_ = 0;
    bool title_ended_ = false;
    bool title_merged_ = false;            // the further definition lines of a merged entry have begun
    bool first_title_line_ = false;        // the title's line read last is its first
    bool first_title_line_wraps_ = false;  // that line ends where BLAST+ may have wrapped it
    bool html_ = false;
    bool pattern_place_read_ = false;  // PHI-BLAST: the query's first place of the pattern has begun
    std::uint64_t unnamed_subjects_ = 0;
    bool reading_piece_ = false;  // since start_piece
    bool named_query_by_number_ = false;
    Closing closing_ = Closing::open;
    bool last_line_ended_ = true;         // the last line read ended in a line feed
    std::uint64_t listed_subjects_ = 0;   // by the query's list
    std::uint64_t aligned_subjects_ = 0;  // the query's subjects shown with an alignment
    bool subject_aligned_ = false;        // the subject being read has shown one
    bool list_line_after_blank_ = false;  // the list's next line follows a blank line
    bool cited_ = false;                  // the run has cited BLAST's papers ("Reference:")
    UnalignedSubjects unaligned_;
    std::uint64_t hsp_line_number_ = 0;  // where the alignment being read began
    std::uint64_t programs_read_ = 0;    // program lines read
    bool closing_settled_ = false;       // the run's closing is decided (settle_closing)
    // A piece that began inside a query: its alignments are counted apart
    // until the query ends (`carried_aligned` then holds them) and go on
    // to the reader that reads on into the piece.
    bool began_in_query_ = false;
    bool carried_query_open_ = false;
    bool carried_query_ended_ = false;
    std::uint64_t carried_aligned_ = 0;
};

}  // namespace hittab::hsptab
