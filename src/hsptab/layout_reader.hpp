// The layout reader: follows a BLAST text report line by line, in any of the
// layouts BLAST has written (BLAST+ of every version, legacy blastall, the
// web page's text download), and hands each complete alignment to the field
// writer with its query, subject and program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "field_writer.hpp"
#include "hsp.hpp"
#include "kernel.hpp"
#include "padded_text.hpp"

namespace hittab::hsptab {

struct MarkedLines;
struct AlignmentLine;
struct GapCount;

class LayoutReader {
public:
    // Reads the report named `path` (for failure reports) into `writer`,
    // with `kernel` marking the bytes that lines and alignments turn on.
    LayoutReader(std::string path, FieldWriter& writer, const Kernel& kernel);

    // A run of whole lines, each ending in LF except perhaps the report's
    // last; `line_number` is the number of the line before the run, and
    // becomes that of the run's last line.
    void read_lines(PaddedView lines, std::uint64_t& line_number);

    // The end of the report: the last alignment must be complete.
    void finish(std::uint64_t last_line_number);

    // For a report read in pieces that each begin at a "Query=" line:
    // end_before_query does what such a line, at `line_number`, does to what
    // is open (the last alignment's row, the query's end); end_last_query
    // does what the end of the report does, short of ending the run.
    void end_before_query(std::uint64_t line_number);
    void end_last_query(std::uint64_t last_line_number);

    // Reads a piece as if the lines before it had left the run `run` open,
    // counting its queries from 0.
    void assume(const Run& run);

    // Whether a program line has opened a run; run() is that run.
    bool knows_run() const { return place_ != Place::before_program && place_ != Place::web_preamble; }
    const Run& run() const { return run_; }
    std::uint64_t programs_read() const { return programs_read_; }

    // Whether the next piece, read after assume(run), was read as reading
    // on from here reads it: a program line has been read, the run open is
    // `run` (its count of queries aside) and the last query has ended.
    bool continues_with(const Run& run) const;

    // Goes on from where `piece`, the next piece, read on from here as
    // continues_with() allowed, has left off.
    void go_on_after(const LayoutReader& piece);

private:
    // read_lines for one part of a run: its bytes marked, then its lines read.
    void read_part(PaddedView lines, std::uint64_t& line_number);

    enum class Place {
        before_program,    // nothing read yet but blank lines
        web_preamble,      // "RID:" seen, "Program:" not yet
        in_run,            // between queries
        query_definition,  // after "Query=", before its length
        in_query,          // after the query's length
        subject_title,     // after ">", before the subject's length
        web_more_titles,   // the web layout's further titles of the same subject
        in_subject,        // after the subject's length
        in_hsp,            // after a Score line
    };

    // Every line these are given lies in the padded text of a run: the
    // bytes past its end may be read.
    void read_line(std::string_view line, std::uint64_t line_number);
    void start_program(std::string_view program_line, std::string_view name, std::uint64_t line_number);
    void start_query(std::string_view definition, std::uint64_t line_number);
    void start_subject(std::string_view title);
    void read_round(std::string_view line);
    // "Length=239" or "Length = 239" (`text`, trimmed) after a subject's title.
    void read_subject_length(std::string_view text, std::uint64_t line_number);
    void start_hsp(std::string_view line, std::uint64_t line_number);
    void read_hsp_line(std::string_view line, std::uint64_t line_number);
    // From `start`, the lines of an alignment up to the first that is
    // something else; gives that line's start, or `end`.
    const char* read_alignment(const char* start, const char* end, std::uint64_t& line_number,
                               const MarkedLines& marked);
    // The alignment line at `start`; gives its end.
    const char* read_alignment_line(const char* start, const char* text_end, bool is_query, std::uint64_t line_number,
                                    const MarkedLines& marked);
    // From `start`, the usual BLAST+ blocks (a Query line, its midline and
    // its Sbjct line, then blank lines) read together; gives where the
    // first other line begins, which is `start` when it is one (nothing
    // read), for the line-by-line reading.
    const char* read_usual_blocks(const char* start, const char* end, std::uint64_t& line_number,
                                  const MarkedLines& marked);
    // An alignment line's gaps added to the alignment's; gives its gap columns.
    std::uint64_t add_gaps(const AlignmentLine& line, const GapCount& gaps, bool& in_gap);
    void finish_hsp(std::uint64_t line_number);
    void finish_query();
    [[noreturn]] void fail(const std::string& message, std::uint64_t line_number) const;

    std::string path_;
    FieldWriter& writer_;
    const Kernel& kernel_;
    std::vector<AlignmentMasks> masks_;  // of the run being read
    Place place_ = Place::before_program;
    Run run_;
    Query query_;
    Subject subject_;
    Hsp hsp_;
    bool query_open_ = false;
    bool definition_line_cut_ = false;  // the definition's last line ended inside a word
    bool keep_sequences_;
    std::size_t awaiting_subject_columns_ = 0;  // a Query line's columns, until its Sbjct line
    bool awaiting_subject_line_ = false;
    std::uint64_t hsp_line_number_ = 0;  // where the alignment being read began
    std::uint64_t programs_read_ = 0;    // program lines read
};

}  // namespace hittab::hsptab
