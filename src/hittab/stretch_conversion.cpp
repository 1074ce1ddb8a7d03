#include "stretch_conversion.hpp"

#include <deque>
#include <exception>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "hit_record.hpp"
#include "scanner.hpp"
#include "stretch_reader.hpp"
#include "taking_turns.hpp"

namespace hittab {

namespace {

// A stretch whose lines say more than this applies them in parts while it
// holds its turn, so that memory stays flat whatever the lines.
constexpr std::size_t most_line_values = 16 * 1024;
// Likewise for rows written ahead of a thread's turn.
constexpr std::size_t most_row_bytes = 1024 * 1024;
// What one line of a stretch says, to be applied in report order.
struct LineValues {
    LineKind kind;
    std::uint64_t line_number;  // from the stretch's first line, which is 0
    std::string_view values[3];
};

// What `values`, just read from a line of `kind`, says. A title value
// made by deleting tags inside a word lives in `values` only until the next
// title: it is copied to `built_values`.
LineValues said(LineKind kind, std::uint64_t line_number, const HitRecord& values,
                std::deque<std::string>& built_values) {
    LineValues line{kind, line_number, {}};
    switch (kind) {
        case LineKind::title:
            line.values[0] = values.id1;
            line.values[1] = values.id2;
            line.values[2] = values.length;
            for (std::size_t v = 0; v < 3; ++v) {
                if (line.values[v].data() == values.kept[v].data()) {
                    line.values[v] = built_values.emplace_back(line.values[v]);
                }
            }
            break;
        case LineKind::score:
            line.values[0] = values.score;
            line.values[1] = values.length2;
            line.values[2] = values.e_value;
            break;
        case LineKind::identities:
            line.values[0] = values.identities;
            line.values[1] = values.gaps;
            break;
        case LineKind::strand: line.values[0] = values.strand; break;
        case LineKind::other: break;
    }
    return line;
}

class Conversion {
public:
    Conversion(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
               const Kernel& kernel)
        : descriptor_(descriptor), path_(path), table_(table), stretch_size_(stretch_size), kernel_(kernel) {}

    // Converts the next stretch no thread has taken, again and again, until
    // the report ends or the conversion fails. Taking them as they come, not
    // every other one, keeps a thread that the system slows from slowing both.
    void operator()() noexcept;

    // Once both threads are done: the last hit's row, or the failure.
    void finish() {
        turns_.rethrow_failure();
        dump(record_, table_);
    }

private:
    // `lines` is the caller's, kept from stretch to stretch.
    void convert_stretch(std::uint64_t index, StretchReader& reader, std::vector<LineValues>& lines);
    void apply(const std::vector<LineValues>& lines);

    const int descriptor_;
    const std::string& path_;
    TableWriter& table_;
    const std::size_t stretch_size_;
    const Kernel& kernel_;

    // Touched only by the thread whose turn it is.
    HitRecord record_;
    std::uint64_t first_line_number_ = 1;  // of the stretch whose turn it is

    TakingTurns turns_;
};

void Conversion::apply(const std::vector<LineValues>& lines) {
    for (const LineValues& line : lines) {
        const std::string_view* values = line.values;
        switch (line.kind) {
            case LineKind::title:
                dump(record_, table_);
                record_.id1 = values[0];
                record_.id2 = values[1];
                record_.length = values[2];
                break;
            case LineKind::score:
                record_.score = values[0];
                record_.length2 = values[1];
                record_.e_value = values[2];
                break;
            case LineKind::identities:
                record_.identities = values[0];
                record_.gaps = values[1];
                break;
            case LineKind::strand: record_.strand = values[0]; break;
            case LineKind::other: break;
        }
    }
}

void Conversion::operator()() noexcept {
    try {
        StretchReader reader(descriptor_, path_, stretch_size_);
        std::vector<LineValues> lines;
        while (!turns_.over()) convert_stretch(turns_.take_next(), reader, lines);
    } catch (...) {
        turns_.end(std::current_exception());
    }
}

// Rows a thread writes ahead of its turn, with the table writer's own code,
// gathered in memory until the turn hands them to the table.
struct RowsAhead {
    explicit RowsAhead(const std::string& table_path) : table(TableWriter{gathering_rows(sink, table_path), true}) {}
    // Ends the table writer: `sink.bytes` then holds every row.
    std::string_view close() {
        close_table(table);
        return sink.bytes;
    }
    RowSink sink;
    TableWriter table;
};

constexpr unsigned all_fields = (1u << 9) - 1;

unsigned fields_of(LineKind kind) {
    switch (kind) {
        case LineKind::title: return 0b000000111;
        case LineKind::score: return 0b000111000;
        case LineKind::identities: return 0b011000000;
        case LineKind::strand: return 0b100000000;
        case LineKind::other: break;
    }
    return 0;
}

void Conversion::convert_stretch(std::uint64_t index, StretchReader& reader, std::vector<LineValues>& lines) {
    lines.clear();
    std::deque<std::string> built_values;  // title values built apart from the text
    HitRecord values;                      // every value the stretch has given so far
    unsigned known = 0;                    // the fields `values` holds from this stretch
    std::optional<RowsAhead> rows;         // once every field is known, rows are written ahead
    std::exception_ptr line_failure;       // a line that cannot be read ends the report there
    bool failing_line_writes_hit = false;
    std::exception_ptr cut_short;  // memory ran out: the lines read before it still count
    bool holding_turn = false;
    std::uint64_t line_number = 0;
    CandidateLine found[64];
    Stretch stretch;
    try {
        stretch = reader.read(index);
        PaddedView rest = stretch.lines;
        while (!rest.empty() && !line_failure) {
            std::size_t count = kernel_.find_candidate_lines(rest, line_number, found, std::size(found));
            std::size_t i = 0;
            for (; i < count && !rows; ++i) {
                LineKind kind;
                try {
                    kind = read_line(found[i].text, found[i].line_number, values, kernel_);
                } catch (const Failure&) {
                    line_failure = std::current_exception();
                    // A title that cannot be read still has the hit before it written.
                    failing_line_writes_hit = found[i].text.starts_with(">");
                    break;
                }
                if (kind == LineKind::other) continue;
                lines.push_back(said(kind, found[i].line_number, values, built_values));
                known |= fields_of(kind);
                if (known == all_fields) rows.emplace(table_.output_fp.path());
            }
            for (; i < count && rows && !line_failure; ++i) {
                try {
                    scan_line(found[i].text, found[i].line_number, values, rows->table, kernel_);
                } catch (const Failure& failure) {
                    // Rows that could not be gathered (memory ran out) are no fault of the line.
                    if (failure.kind == FailureKind::io) throw;
                    line_failure = std::current_exception();
                    break;
                }
                if (rows->sink.bytes.size() >= most_row_bytes) {
                    // Rows far longer than their lines (a long value carried
                    // from hit to hit): written out in parts, in turn.
                    if (!holding_turn && !turns_.wait_for(index)) return;
                    holding_turn = true;
                    apply(lines);
                    lines.clear();
                    table_.output_fp.write(rows->sink.bytes);
                    rows->sink.bytes.clear();
                }
            }
            if (lines.size() >= most_line_values && !rest.empty() && !line_failure && !rows) {
                if (!holding_turn && !turns_.wait_for(index)) return;
                holding_turn = true;
                apply(lines);
                keep_values(record_);
                lines.clear();
                built_values.clear();
            }
        }
    } catch (...) {
        if (holding_turn) throw;  // in report order already
        cut_short = std::current_exception();
    }

    if (!holding_turn && !turns_.wait_for(index)) return;
    apply(lines);
    if (rows) {
        table_.output_fp.write(rows->close());
        record_ = values;
    }
    // The record must not view this stretch's text, which the next read replaces.
    keep_values(record_);
    if (line_failure) {
        if (failing_line_writes_hit) dump(record_, table_);
        try {
            std::rethrow_exception(line_failure);
        } catch (Failure& failure) {
            failure.line_number += first_line_number_;
            throw;
        }
    }
    if (cut_short) std::rethrow_exception(cut_short);
    if (stretch.failure) std::rethrow_exception(stretch.failure);
    first_line_number_ += line_number;
    if (stretch.last) {
        turns_.end();
        return;
    }
    turns_.pass(index + 1);
}

}  // namespace

bool convert_in_stretches(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
                          const Kernel& kernel) {
    Conversion conversion(descriptor, path, table, stretch_size, kernel);
    if (!work_on_two_threads(conversion)) return false;
    conversion.finish();
    return true;
}

}  // namespace hittab
