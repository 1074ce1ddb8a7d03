// The field writer: the columns of BLAST's own tabular output, chosen by
// BLAST's keywords, one row per alignment, tab-separated; with --comments
// the comment lines of BLAST's commented table around each query's rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hsp.hpp"
#include "row_output.hpp"

namespace hittab::hsptab {

enum class Field {
    qseqid,
    qlen,
    sseqid,
    stitle,
    slen,
    pident,
    length,
    mismatch,
    gapopen,
    gaps,
    nident,
    positive,
    ppos,
    qstart,
    qend,
    sstart,
    send,
    qframe,
    sframe,
    frames,
    sstrand,
    evalue,
    bitscore,
    score,
    qcovhsp,
    btop,
    qseq,
    sseq,  // the last: field_count counts up to it
};

constexpr std::size_t field_count = static_cast<std::size_t>(Field::sseq) + 1;

// The fields named by `keywords`, BLAST's words separated by spaces ("std"
// stands for the twelve standard ones). Raises a UsageError naming an
// unknown keyword and listing the known ones.
std::vector<Field> parse_fields(std::string_view keywords);

// The keyword of `field`, as BLAST spells it.
std::string_view keyword_of(Field field);

// Appends `part` of `whole` as a percentage with `decimals` (2 or 3)
// decimals, exactly as printf("%.*f") writes the double 100.0 * part / whole,
// as BLAST writes pident and ppos.
void append_percentage(std::string& text, std::uint64_t part, std::uint64_t whole, int decimals);

struct UsageError {
    std::string message;
};

// What every row of a table is made of, fixed once the command line is
// read: the writers of rows read ahead of their turn copy it from the one
// in turn, which never changes it.
struct RowFormat {
    RowFormat(std::vector<Field> chosen_fields, bool with_comments);

    std::vector<Field> fields;
    bool comments;
    bool standard;  // the fields are the standard twelve, in their order
    bool needs_sequences = false;
    // A row's bound: the fixed share of every field, separators, the line
    // end and the 7 bytes a short text may write past its end included; and
    // the fields whose bound depends on the row.
    std::size_t fixed_bound = 1 + 7;
    std::vector<Field> sized_fields;
};

class FieldWriter {
public:
    FieldWriter(std::vector<Field> fields, RowOutput& output, bool comments, bool header);
    // A writer of the same fields and comments as `same`, to `output`,
    // without a header: for rows written ahead of their turn.
    FieldWriter(const FieldWriter& same, RowOutput& output);

    // Rows that a writer made like this one wrote ahead of their turn.
    void pass_on(std::string_view rows) { output_.write(rows); }

    // Whether the rows need the aligned sequences themselves (qseq, sseq, btop).
    bool needs_sequences() const { return format_.needs_sequences; }
    // Whether each query's rows come with comment lines around them.
    bool comments() const { return format_.comments; }

    void end_run(const Run& run);
    void begin_query(const Run& run, const Query& query);
    void end_query(const Run& run, const Query& query);
    void row(const Run& run, const Query& query, const Subject& subject, const Hsp& hsp);

private:
    // The row itself, written at `out`.
    char* put_row(char* out, const Run& run, const Query& query, const Subject& subject, const Hsp& hsp) const;

    const RowFormat format_;
    RowOutput& output_;
    std::string row_;         // the row being built
    std::string query_rows_;  // with comments: the query's rows, held until their count is known
    std::uint64_t query_hits_ = 0;
};

}  // namespace hittab::hsptab
