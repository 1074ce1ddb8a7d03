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
#include "ordered_pieces.hpp"
#include "part_size.hpp"
#include "scanner.hpp"
#include "stretch_reader.hpp"

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
// gathered in `sink` until the turn hands them to the table. The sink
// outlives it, keeping its room from stretch to stretch.
struct RowsAhead {
    RowsAhead(RowSink& sink, const std::string& table_path)
        : sink(sink), table(TableWriter{gathering_rows(sink, table_path), true}) {
        sink.bytes.clear();
    }
    // Ends the table writer: `sink.bytes` then holds every row.
    std::string_view close() {
        close_table(table);
        return sink.bytes;
    }
    RowSink& sink;
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
    std::vector<LineValues> lines;         // what the lines say, until rows are written ahead
    std::size_t owned_lines = 0;           // the first lines, whose values no longer view the text
    std::deque<std::string> built_values;  // values that outlive the text they were read from
    HitRecord values;                      // every value the stretch has given so far
    unsigned known = 0;                    // the fields `values` holds from this stretch
    RowSink row_bytes;                     // where they gather
    std::optional<RowsAhead> rows;         // once every field is known, rows are written ahead
    // A line that cannot be read, a failure to read or memory running out:
    // the stretch is read again in turn, where the failure comes in order.
    bool unusable = false;
    // More than a stretch may hold ahead: the rest, from the line at
    // `resume_offset` of the part read from file offset `resume_part`, the
    // stretch's line `resume_line` (its first is 0), is read in turn.
    bool stopped = false;
    std::uint64_t resume_part = 0;
    std::size_t resume_offset = 0;
    std::uint64_t resume_line = 0;
    bool last = false;  // the report ends in this stretch
    std::uint64_t line_count = 0;

    // Ready for the next stretch; `lines` keeps its room.
    void start() {
        lines.clear();
        owned_lines = 0;
        built_values.clear();
        values = HitRecord();
        known = 0;
        rows.reset();
        unusable = false;
        stopped = false;
        last = false;
        line_count = 0;
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

// The stretches of the report as the pieces that the threads read ahead
// and hand on in order (ordered_pieces.hpp).
class Conversion {
public:
    using Thread = StretchReader;
    using Piece = StretchResult;

    Conversion(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
               const Kernel& kernel, std::uint64_t size_at_start)
        : descriptor_(descriptor),
          path_(path),
          size_(size_at_start != size_now ? size_at_start : report_size(descriptor, path)),
          table_(table),
          stretch_size_(stretch_size),
          kernel_(kernel) {}

    std::uint64_t stretches() const { return (size_ + stretch_size_ - 1) / stretch_size_; }

    // Each thread reads the file a part at a time (part_size.hpp), so that
    // each part's bytes are still in cache when they are searched. The
    // stretches a thread reads ahead keep their own values, so that one
    // reader serves them all.
    StretchReader start_thread() {
        return StretchReader(descriptor_, path_, std::min(stretch_size_, part_size), size_);
    }

    void read_ahead(std::uint64_t index, StretchReader& reader, StretchResult& result) noexcept;
    bool hand_on(std::uint64_t index, StretchReader& reader, StretchResult& result, bool read_ahead);

    // Once every stretch is handed on: the last hit's row.
    void finish() { dump(record_, table_); }

private:
    // Reads the lines of one part ahead; false where the stretch says more
    // than it may hold ahead, at candidate line `stopped_at` of the part.
    bool read_lines(PaddedView lines, StretchResult& result);
    // In turn: reads stretch `index` straight into the record and the table,
    // from the line at `skip` of the part that begins at file offset
    // `part_begin`, line `line_number` of the report; whether the report goes on.
    bool read_in_turn(std::uint64_t index, StretchReader& reader, std::uint64_t part_begin, std::size_t skip,
                      std::uint64_t line_number);
    void apply(const std::vector<LineValues>& lines);

    const int descriptor_;
    const std::string& path_;
    const std::uint64_t size_;  // of the report as reading begins, the same for every thread
    TableWriter& table_;
    const std::size_t stretch_size_;
    const Kernel& kernel_;

    // Touched only by the thread whose turn it is.
    HitRecord record_;
    std::uint64_t first_line_number_ = 1;  // of the stretch whose turn it is
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

bool Conversion::read_lines(PaddedView text, StretchResult& result) {
    const char* part_text = text.data();
    CandidateLine found[64];
    while (!text.empty()) {
        std::size_t count = kernel_.find_candidate_lines(text, result.line_count, found, std::size(found));
        for (std::size_t i = 0; i < count; ++i) {
            // Rows far longer than their lines (a long value carried from
            // hit to hit), or lines that say too much before rows can be
            // written: the rest is read in turn.
            if (result.rows ? result.rows->sink.bytes.size() >= most_row_bytes
                            : result.lines.size() >= most_line_values) {
                result.resume_offset = static_cast<std::size_t>(found[i].text.data() - part_text);
                result.resume_line = found[i].line_number;
                return false;
            }
            if (result.rows) {
                scan_line(found[i].text, found[i].line_number, result.values, result.rows->table, kernel_);
                continue;
            }
            LineKind kind = read_line(found[i].text, found[i].line_number, result.values, kernel_);
            if (kind == LineKind::other) continue;
            result.lines.push_back(said(kind, found[i].line_number, result.values, result.built_values));
            result.known |= fields_of(kind);
            if (result.known == all_fields) result.rows.emplace(result.row_bytes, table_.output_fp.path());
        }
    }
    return true;
}

void Conversion::read_ahead(std::uint64_t index, StretchReader& reader, StretchResult& result) noexcept {
    result.start();
    try {
        // A part ends with the line that runs past its end; the next part
        // begins after that line.
        const std::uint64_t stretch_end = (index + 1) * stretch_size_;
        for (std::uint64_t part_begin = index * stretch_size_;;) {
            Stretch part = reader.read_lines_starting_in(part_begin, std::min(part_begin + part_size, stretch_end));
            if (!read_lines(part.lines, result)) {
                result.stopped = true;
                result.resume_part = part_begin;
                break;
            }
            if (part.failure) {
                result.unusable = true;
                return;
            }
            result.last = part.last;
            if (part.last || part.next_line >= stretch_end) break;
            // The next part's text takes the place of this one's.
            result.own_values();
            part_begin = part.next_line;
        }
        // The reader's next stretch takes the place of the text.
        result.own_values();
    } catch (...) {
        result.unusable = true;
    }
}

bool Conversion::read_in_turn(std::uint64_t index, StretchReader& reader, std::uint64_t part_begin, std::size_t skip,
                              std::uint64_t line_number) {
    const std::uint64_t stretch_end = (index + 1) * stretch_size_;
    for (;;) {
        Stretch part = reader.read_lines_starting_in(part_begin, std::min(part_begin + part_size, stretch_end));
        line_number = scan_lines(part.lines.substr(skip), line_number, record_, table_, kernel_);
        skip = 0;
        if (part.failure) std::rethrow_exception(part.failure);
        if (part.last) return false;
        if (part.next_line >= stretch_end) break;
        part_begin = part.next_line;
    }
    first_line_number_ = line_number;
    return true;
}

bool Conversion::hand_on(std::uint64_t index, StretchReader& reader, StretchResult& result, bool read_ahead) {
    if (!read_ahead || result.unusable) {
        return read_in_turn(index, reader, index * stretch_size_, 0, first_line_number_);
    }
    apply(result.lines);
    if (result.rows) {
        table_.output_fp.write(result.rows->close());
        record_ = result.values;
    }
    // The record must not view the stretch's values, which its next one replaces.
    keep_values(record_);
    if (result.stopped) {
        return read_in_turn(index, reader, result.resume_part, result.resume_offset,
                            first_line_number_ + result.resume_line);
    }
    first_line_number_ += result.line_count;
    return !result.last;
}

}  // namespace

bool convert_in_stretches(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
                          const Kernel& kernel, std::uint64_t size_at_start, unsigned threads) {
    Conversion conversion(descriptor, path, table, stretch_size, kernel, size_at_start);
    if (!convert_in_order(conversion, threads_for(conversion.stretches(), threads))) return false;
    conversion.finish();
    return true;
}

}  // namespace hittab
