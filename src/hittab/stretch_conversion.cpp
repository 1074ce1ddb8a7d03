#include "stretch_conversion.hpp"

#include <algorithm>
#include <deque>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "hit_record.hpp"
#include "part_size.hpp"
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
// A stretch is read and scanned in parts (part_size.hpp).
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

// What one stretch gave, read ahead of its turn and handed on in it. Its
// rows ahead write into it: it stays where it was made.
struct StretchResult {
    std::uint64_t index = 0;
    std::vector<LineValues> lines;         // what the lines say, until rows are written ahead
    std::size_t owned_lines = 0;           // the first lines, whose values no longer view the text
    std::deque<std::string> built_values;  // values that outlive the text they were read from
    HitRecord values;                      // every value the stretch has given so far
    unsigned known = 0;                    // the fields `values` holds from this stretch
    std::optional<RowsAhead> rows;         // once every field is known, rows are written ahead
    std::exception_ptr line_failure;       // a line that cannot be read ends the report there
    bool failing_line_writes_hit = false;
    std::exception_ptr cut_short;     // memory ran out: the lines read before it still count
    std::exception_ptr read_failure;  // reading failed after the lines read
    bool last = false;                // the report ends in this stretch
    std::uint64_t line_count = 0;
    bool holding_turn = false;  // its turn came while it was read
    bool handed_on = false;

    // Ready for the next stretch; `lines` keeps its room.
    void start(std::uint64_t stretch_index) {
        index = stretch_index;
        lines.clear();
        owned_lines = 0;
        built_values.clear();
        values = HitRecord();
        known = 0;
        rows.reset();
        line_failure = nullptr;
        failing_line_writes_hit = false;
        cut_short = nullptr;
        read_failure = nullptr;
        last = false;
        line_count = 0;
        holding_turn = false;
        handed_on = false;
    }

    // Makes every value read so far its own, so that the text it was read
    // from can be replaced.
    void own_values() {
        keep_values(values);
        for (; owned_lines < lines.size(); ++owned_lines) {
            for (std::string_view& value : lines[owned_lines].values) {
                if (!value.empty()) value = built_values.emplace_back(value);
            }
        }
    }
};

class Conversion {
public:
    Conversion(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
               const Kernel& kernel, std::uint64_t size_at_start)
        : descriptor_(descriptor),
          path_(path),
          size_(size_at_start != size_now ? size_at_start : report_size(descriptor, path)),
          table_(table),
          stretch_size_(stretch_size),
          kernel_(kernel) {}

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
    // Reads stretch `index` into `result`. A stretch whose lines say too
    // much to be held at once takes its turn early, after `parked` (this
    // thread's stretch read before, if any) is handed on. False once the
    // work is over.
    bool convert_stretch(std::uint64_t index, StretchReader& reader, StretchResult& result, StretchResult*& parked);
    // Reads the lines of one part of the stretch; false once the work is over.
    bool read_lines(PaddedView lines, StretchResult& result, StretchResult*& parked);
    // Takes the turn of `result` for the rest of its reading; false once the work is over.
    bool take_turn_early(StretchResult& result, StretchResult*& parked);
    // Waits for the turn of `result` and hands it on; false once the work is over.
    bool hand_on_in_turn(StretchResult& result);
    // Hands on this thread's parked stretch, if any, in its turn; false once the work is over.
    bool hand_on_parked(StretchResult*& parked);
    // Applies what `result` gave to the record and the table; its turn has come.
    void hand_on(StretchResult& result);
    void apply(const std::vector<LineValues>& lines);

    const int descriptor_;
    const std::string& path_;
    const std::uint64_t size_;  // of the report as reading begins, the same for both threads
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
        StretchReader reader(descriptor_, path_, std::min(stretch_size_, part_size), size_);
        // A stretch read before its turn has come is parked, and the thread
        // reads the next one meanwhile rather than wait: stretches take
        // unequal times to read. Each thread parks at most one.
        StretchResult results[2];
        StretchResult* parked = nullptr;
        while (!turns_.over()) {
            StretchResult& result = parked == &results[0] ? results[1] : results[0];
            if (!convert_stretch(turns_.take_next(), reader, result, parked)) return;
            if (result.handed_on) continue;
            if (!hand_on_parked(parked)) return;
            if (turns_.is_turn_of(result.index)) {
                hand_on(result);
                continue;
            }
            // The reader's next stretch takes the place of the text, so a
            // parked stretch holds copies of its values. Where memory for
            // them runs out, the stretch waits for its turn instead.
            try {
                result.own_values();
            } catch (const std::bad_alloc&) {
                if (!hand_on_in_turn(result)) return;
                continue;
            }
            parked = &result;
        }
    } catch (...) {
        turns_.end(std::current_exception());
    }
}

bool Conversion::hand_on_in_turn(StretchResult& result) {
    if (!turns_.wait_for(result.index)) return false;
    hand_on(result);
    return true;
}

bool Conversion::hand_on_parked(StretchResult*& parked) {
    if (parked == nullptr) return true;
    StretchResult& earlier = *parked;
    parked = nullptr;  // handed on, or failing in its turn: either way not again
    return hand_on_in_turn(earlier);
}

bool Conversion::take_turn_early(StretchResult& result, StretchResult*& parked) {
    if (result.holding_turn) return true;
    // From here on a failure is in report order. The parked stretch comes
    // first, and only this thread can hand it on.
    result.holding_turn = true;
    return hand_on_parked(parked) && turns_.wait_for(result.index);
}

bool Conversion::read_lines(PaddedView text, StretchResult& result, StretchResult*& parked) {
    CandidateLine found[64];
    while (!text.empty() && !result.line_failure) {
        std::size_t count = kernel_.find_candidate_lines(text, result.line_count, found, std::size(found));
        std::size_t i = 0;
        for (; i < count && !result.rows; ++i) {
            LineKind kind;
            try {
                kind = read_line(found[i].text, found[i].line_number, result.values, kernel_);
            } catch (const Failure&) {
                result.line_failure = std::current_exception();
                // A title that cannot be read still has the hit before it written.
                result.failing_line_writes_hit = found[i].text.starts_with(">");
                return true;
            }
            if (kind == LineKind::other) continue;
            result.lines.push_back(said(kind, found[i].line_number, result.values, result.built_values));
            result.known |= fields_of(kind);
            if (result.known == all_fields) result.rows.emplace(table_.output_fp.path());
        }
        for (; i < count && result.rows; ++i) {
            try {
                scan_line(found[i].text, found[i].line_number, result.values, result.rows->table, kernel_);
            } catch (const Failure& failure) {
                // Rows that could not be gathered (memory ran out) are no fault of the line.
                if (failure.kind == FailureKind::io) throw;
                result.line_failure = std::current_exception();
                return true;
            }
            if (result.rows->sink.bytes.size() >= most_row_bytes) {
                // Rows far longer than their lines (a long value carried
                // from hit to hit): written out in parts, in turn.
                if (!take_turn_early(result, parked)) return false;
                apply(result.lines);
                result.lines.clear();
                result.owned_lines = 0;
                table_.output_fp.write(result.rows->sink.bytes);
                result.rows->sink.bytes.clear();
            }
        }
        if (result.lines.size() >= most_line_values && !text.empty() && !result.rows) {
            if (!take_turn_early(result, parked)) return false;
            apply(result.lines);
            keep_values(record_);
            result.lines.clear();
            result.owned_lines = 0;
            result.built_values.clear();
        }
    }
    return true;
}

bool Conversion::convert_stretch(std::uint64_t index, StretchReader& reader, StretchResult& result,
                                 StretchResult*& parked) {
    result.start(index);
    try {
        // The stretch is read and scanned a part at a time, so that each
        // part's bytes are still in cache when they are searched. A part
        // ends with the line that runs past its end; the next part begins
        // after that line.
        const std::uint64_t stretch_end = (index + 1) * stretch_size_;
        for (std::uint64_t part_begin = index * stretch_size_;;) {
            std::uint64_t part_end = std::min(part_begin + part_size, stretch_end);
            Stretch part = reader.read_lines_starting_in(part_begin, part_end);
            if (!read_lines(part.lines, result, parked)) return false;
            result.read_failure = part.failure;
            result.last = part.last;
            if (result.line_failure || part.failure || part.last || part.next_line >= stretch_end) break;
            // The next part's text takes the place of this one's.
            result.own_values();
            part_begin = part.next_line;
        }
    } catch (...) {
        if (result.holding_turn) throw;  // in report order already
        result.cut_short = std::current_exception();
    }
    if (result.holding_turn) hand_on(result);
    return true;
}

void Conversion::hand_on(StretchResult& result) {
    result.handed_on = true;
    apply(result.lines);
    if (result.rows) {
        table_.output_fp.write(result.rows->close());
        record_ = result.values;
    }
    // The record must not view the stretch's text, which the next read replaces.
    keep_values(record_);
    if (result.line_failure) {
        if (result.failing_line_writes_hit) dump(record_, table_);
        try {
            std::rethrow_exception(result.line_failure);
        } catch (Failure& failure) {
            failure.line_number += first_line_number_;
            throw;
        }
    }
    if (result.cut_short) std::rethrow_exception(result.cut_short);
    if (result.read_failure) std::rethrow_exception(result.read_failure);
    first_line_number_ += result.line_count;
    if (result.last) {
        turns_.end();
        return;
    }
    turns_.pass(result.index + 1);
}

}  // namespace

bool convert_in_stretches(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
                          const Kernel& kernel, std::uint64_t size_at_start) {
    Conversion conversion(descriptor, path, table, stretch_size, kernel, size_at_start);
    if (!work_on_two_threads(conversion)) return false;
    conversion.finish();
    return true;
}

}  // namespace hittab
