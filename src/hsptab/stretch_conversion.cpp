#include "stretch_conversion.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "html_text.hpp"
#include "layout_reader.hpp"
#include "ordered_pieces.hpp"
#include "part_size.hpp"
#include "row_output.hpp"
#include "stretch_reader.hpp"

namespace hittab::hsptab {

namespace {

// A piece read ahead of its turn holds at most this many bytes of rows;
// one that would hold more is read again in turn, writing straight to the
// table, so that memory stays flat whatever the report.
constexpr std::size_t most_row_bytes = 1024 * 1024;
// A piece runs on past its stretch, to the next piece's first line, which
// is usually near: it reads a little first, then ever more at a time.
constexpr std::size_t first_read_size = 4 * 1024;
constexpr std::size_t largest_read_size = 128 * 1024;
// A piece that begins at a title looks this far back for its query's line:
// far enough for the usual queries of a few hits; the query of many hits
// is the one reading in turn last had open.
constexpr std::size_t query_search_size = 16 * 1024;

enum class PieceStart { query, subject };

// A line that a piece may begin with, at `at` of the text searched.
struct StartLine {
    std::size_t at;
    PieceStart kind;
};

bool is_query_line_at(std::string_view lines, std::size_t at) {
    constexpr std::string_view label = "Query=";
    if (lines.compare(at, label.size(), label) != 0) return false;
    std::size_t after = at + label.size();
    return after == lines.size() || lines[after] == ' ' || lines[after] == '\n';
}

// Where the first line of `lines` (whole lines) that begins with `label`
// starts, if it starts before `limit`; `limit` when none does. Lists of
// subjects run for megabytes without a title: a title is found by its
// rare first byte, a query line by its whole label.
std::size_t first_line_with(std::string_view lines, std::string_view label, std::size_t limit) {
    if (lines.substr(0, label.size()) == label) return 0;
    if (label.size() == 1) {
        for (std::size_t at = 1; at < limit;) {
            const void* found = std::memchr(lines.data() + at, label[0], limit - at);
            if (found == nullptr) break;
            at = static_cast<std::size_t>(static_cast<const char*>(found) - lines.data());
            if (lines[at - 1] == '\n') return at;
            ++at;
        }
        return limit;
    }
    std::string with_line_feed = "\n" + std::string(label);
    std::size_t searched = std::min(limit + with_line_feed.size() - 1, lines.size());
    const void* found = memmem(lines.data(), searched, with_line_feed.data(), with_line_feed.size());
    if (found == nullptr) return limit;
    return std::min(limit, static_cast<std::size_t>(static_cast<const char*>(found) - lines.data()) + 1);
}

// The first line of `lines` that a piece may begin with: a query line
// ("Query= DEFINITION" or a bare "Query=", as the layout reader takes them
// anywhere after the program line), or, with `titles`, a subject's title.
// At the size of `lines` when none is.
StartLine first_piece_line(std::string_view lines, bool titles) {
    std::size_t title = titles ? first_line_with(lines, ">", lines.size()) : lines.size();
    for (std::size_t at = 0; at < title;) {
        at = first_line_with(lines.substr(at), "Query=", title - at) + at;
        if (at >= title) break;
        if (is_query_line_at(lines, at)) return {at, PieceStart::query};
        ++at;
    }
    return {title, PieceStart::subject};
}

// Where the last query line of `lines` starts, if any: found from its
// "=", which few lines hold, searched for backwards.
std::optional<std::size_t> last_query_line(std::string_view lines) {
    constexpr std::size_t before_equals = 5;  // "Query"
    for (std::size_t end = lines.size(); end > 0;) {
        const void* equals = memrchr(lines.data(), '=', end);
        if (equals == nullptr) break;
        end = static_cast<std::size_t>(static_cast<const char*>(equals) - lines.data());
        if (end < before_equals) break;
        std::size_t at = end - before_equals;
        if ((at == 0 || lines[at - 1] == '\n') && is_query_line_at(lines, at)) return at;
    }
    return std::nullopt;
}

// Where a piece stands in the report.
struct PieceBounds {
    bool found = false;  // a piece begins in the stretch: its first line starts there
    PieceStart start = PieceStart::query;
    bool report_ends = false;             // in the piece, or in the stretch when no piece begins in it
    PieceStart next = PieceStart::query;  // the next piece's first line, when the report goes on
};

// What one thread keeps from piece to piece: its readers.
struct ThreadReaders {
    ThreadReaders(int descriptor, const std::string& path, std::uint64_t size)
        : inside(descriptor, path, part_size, size),
          onward(descriptor, path, first_read_size, size),
          before(descriptor, path, first_read_size, size) {}

    StretchReader inside;  // the stretch, a part at a time
    StretchReader onward;  // the lines past the stretch
    StretchReader before;  // the lines before a piece, back to its query line
};

// A piece read ahead: its rows, and the reader that read it, kept from
// piece to piece but for a failure.
struct PieceRead {
    RowSink rows;
    std::optional<RowOutput> output;
    std::optional<FieldWriter> writer;
    std::optional<LayoutReader> layout;
    bool usable = false;  // read ahead to its end: it may be handed on as read
    PieceBounds bounds;
    RunState assumed;
    Query assumed_query;  // for a piece that begins at a title
    std::uint64_t lines = 0;
};

// What reading in turn has reached, for the pieces read ahead.
struct KnownState {
    std::optional<RunState> run;
    std::optional<Query> query;
};

class Conversion {
public:
    using Thread = ThreadReaders;
    using Piece = PieceRead;

    Conversion(int descriptor, const std::string& path, FieldWriter& writer, std::size_t stretch_size,
               const Kernel& kernel, std::uint64_t size_at_start)
        : descriptor_(descriptor),
          path_(path),
          writer_(writer),
          stretch_size_(stretch_size),
          size_(size_at_start != size_now ? size_at_start : report_size(descriptor, path)),
          kernel_(kernel),
          // With comments, a query's rows are counted before they are
          // written: pieces begin at queries only.
          titles_(!writer.comments()),
          layout_(path, writer, kernel) {}

    std::uint64_t stretches() const { return (size_ + stretch_size_ - 1) / stretch_size_; }

    ThreadReaders start_thread() { return ThreadReaders(descriptor_, path_, size_); }
    void read_ahead(std::uint64_t index, ThreadReaders& readers, PieceRead& piece) noexcept;
    bool hand_on(std::uint64_t index, ThreadReaders& readers, PieceRead& piece, bool read_ahead);

    // Once every piece is handed on: the end of the report.
    ReportNotes finish() {
        layout_.finish(line_number_);
        return layout_.notes();
    }

private:
    // Reads piece `index` into the layout reader that `at_start(start,
    // part_begin, at)` gives at the piece's first line, `at` of the part
    // read from file offset `part_begin`, or reads no further when it
    // gives none; counts lines in `line_number`. A failure to read the
    // report is raised.
    template <typename AtStart>
    PieceBounds read_piece(std::uint64_t index, ThreadReaders& readers, std::uint64_t& line_number, AtStart&& at_start);
    // Sets `piece` up to read ahead from its first line; false when it
    // cannot know what the lines before it leave.
    bool start_ahead(PieceRead& piece, PieceStart start, ThreadReaders& readers, std::uint64_t part_begin,
                     std::string_view before_start);
    // The query of a piece that begins at a title, read from its query
    // line shortly before, or the one reading in turn last had open.
    std::optional<Query> query_before(PieceRead& piece, const RunState& run, ThreadReaders& readers,
                                      std::uint64_t part_begin, std::string_view before_start);

    KnownState known() {
        std::lock_guard<std::mutex> lock(known_mutex_);
        return known_;
    }

    const int descriptor_;
    const std::string& path_;
    FieldWriter& writer_;
    const std::size_t stretch_size_;
    const std::uint64_t size_;  // of the report as reading begins, the same for every thread
    const Kernel& kernel_;
    const bool titles_;  // pieces may begin at subjects' titles

    // Touched only by the thread whose turn it is.
    LayoutReader layout_;
    std::uint64_t line_number_ = 0;  // of the last line read in turn

    std::mutex known_mutex_;
    KnownState known_;  // after the last piece read in turn
};

template <typename AtStart>
PieceBounds Conversion::read_piece(std::uint64_t index, ThreadReaders& readers, std::uint64_t& line_number,
                                   AtStart&& at_start) {
    PieceBounds bounds;
    LayoutReader* layout = nullptr;
    const std::uint64_t stretch_end = (index + 1) * stretch_size_;
    std::uint64_t from = index * stretch_size_;
    // The lines of the stretch before the piece's first belong to the piece before.
    for (; from < stretch_end; from = std::min(from + part_size, stretch_end)) {
        Stretch part = readers.inside.read_lines_starting_in(from, std::min(from + part_size, stretch_end));
        PaddedView lines = part.lines;
        if (!bounds.found) {
            StartLine first = index == 0 ? StartLine{0, PieceStart::query} : first_piece_line(lines.text(), titles_);
            if (first.at < lines.size() || index == 0) {
                bounds.found = true;
                bounds.start = first.kind;
                layout = at_start(first.kind, from, lines.text().substr(0, first.at));
                if (layout == nullptr) return bounds;
                lines = lines.substr(first.at);
            }
        }
        if (layout != nullptr) layout->read_lines(lines, line_number);
        if (part.failure) std::rethrow_exception(part.failure);
        if (part.last) {
            bounds.report_ends = true;
            return bounds;
        }
    }
    if (!bounds.found) return bounds;
    // On past the stretch, to the next piece's first line.
    for (std::size_t size = first_read_size;; size = std::min(2 * size, largest_read_size)) {
        Stretch next = readers.onward.read_lines_starting_in(from, from + size);
        from += size;
        StartLine first = first_piece_line(next.lines.text(), titles_);
        layout->read_lines(next.lines.substr(0, first.at), line_number);
        if (first.at < next.lines.size()) {
            bounds.next = first.kind;
            return bounds;
        }
        if (next.failure) std::rethrow_exception(next.failure);
        if (next.last) {
            bounds.report_ends = true;
            return bounds;
        }
    }
}

std::optional<Query> Conversion::query_before(PieceRead& piece, const RunState& run, ThreadReaders& readers,
                                              std::uint64_t part_begin, std::string_view before_start) {
    // The lines of the part before the piece, and before them those of the
    // report shortly before the part.
    std::string definition;
    if (std::optional<std::size_t> at = last_query_line(before_start)) {
        definition = before_start.substr(*at);
    } else if (part_begin > 0) {
        std::uint64_t from = part_begin > query_search_size ? part_begin - query_search_size : 0;
        Stretch earlier = readers.before.read_lines_starting_in(from, part_begin);
        if (earlier.failure) return std::nullopt;
        std::string_view text = earlier.lines.text();
        if (std::optional<std::size_t> earlier_at = last_query_line(text)) {
            definition = std::string(text.substr(*earlier_at)) + std::string(before_start);
        }
    }
    if (definition.empty()) return known().query;
    // Its definition, read as reading in turn reads it, up to its length.
    LayoutReader& layout = *piece.layout;
    layout.start_piece(run);
    PaddedBuffer text = PaddedBuffer::copy_of(definition);
    std::uint64_t lines = 0;
    for (std::size_t at = 0; at < definition.size();) {
        std::size_t line_end = definition.find('\n', at);
        std::size_t size = (line_end == std::string::npos ? definition.size() : line_end + 1) - at;
        layout.read_lines(text.view(at, size), lines);
        at += size;
        if (!layout.reads_query_definition()) return layout.open_query();
    }
    return std::nullopt;
}

bool Conversion::start_ahead(PieceRead& piece, PieceStart start, ThreadReaders& readers, std::uint64_t part_begin,
                             std::string_view before_start) {
    KnownState state = known();
    if (!state.run) return false;
    piece.rows.bytes.clear();
    if (!piece.layout) {
        piece.rows.most = most_row_bytes;
        piece.output.emplace(gathering_rows(piece.rows, path_));
        piece.writer.emplace(writer_, *piece.output);
        piece.layout.emplace(path_, *piece.writer, kernel_);
    }
    piece.assumed = *state.run;
    piece.lines = 0;
    switch (start) {
        case PieceStart::query: piece.layout->start_piece(piece.assumed); return true;
        case PieceStart::subject: {
            std::optional<Query> query = query_before(piece, piece.assumed, readers, part_begin, before_start);
            if (!query) return false;
            piece.assumed_query = std::move(*query);
            piece.layout->start_piece_in_query(piece.assumed, piece.assumed_query);
            return true;
        }
    }
    return false;
}

void Conversion::read_ahead(std::uint64_t index, ThreadReaders& readers, PieceRead& piece) noexcept {
    piece.usable = false;
    try {
        bool started = false;
        piece.bounds = read_piece(index, readers, piece.lines,
                                  [&](PieceStart start, std::uint64_t part_begin, std::string_view before_start) {
                                      started = start_ahead(piece, start, readers, part_begin, before_start);
                                      return started ? &*piece.layout : nullptr;
                                  });
        // A stretch in which no piece begins is read by the piece before.
        if (!piece.bounds.found) {
            piece.usable = true;
            return;
        }
        if (!started) return;
        LayoutReader& layout = *piece.layout;
        if (piece.bounds.report_ends) {
            layout.end_last_query(piece.lines);
        } else if (!layout.reads_next_line_anew()) {
            // The next piece's first line goes on with a title or a
            // definition: this piece ends inside it, and is read in turn.
            return;
        } else if (piece.bounds.next == PieceStart::query) {
            layout.end_before_query(piece.lines + 1);
        } else {
            layout.end_before_subject(piece.lines + 1);
        }
        piece.output->flush();
        // A program line is more than a piece can say alone.
        piece.usable = layout.programs_read() == 0 && !layout.named_query_by_number();
    } catch (...) {
        // Whatever the failure left half done goes with them.
        piece.layout.reset();
        piece.writer.reset();
        piece.output.reset();
    }
}

bool Conversion::hand_on(std::uint64_t index, ThreadReaders& readers, PieceRead& piece, bool read_ahead) {
    PieceBounds bounds;
    if (read_ahead && piece.usable && !piece.bounds.found) {
        bounds = piece.bounds;
    } else {
        bool fits = false;
        // A line that only looks like a piece's first, inside a title or
        // a definition, is read in turn.
        if (read_ahead && piece.usable && layout_.reads_next_line_anew()) {
            // What is open ends at the piece's first line.
            std::uint64_t first_line = line_number_ + 1;
            if (piece.bounds.start == PieceStart::query) {
                layout_.end_before_query(first_line);
                fits = layout_.continues_with(piece.assumed);
            } else {
                layout_.end_before_subject(first_line);
                fits = layout_.continues_in_query_with(piece.assumed, piece.assumed_query);
            }
        }
        if (fits) {
            layout_.go_on_after(*piece.layout);
            writer_.pass_on(piece.rows.bytes);
            line_number_ += piece.lines;
            bounds = piece.bounds;
        } else {
            bounds = read_piece(index, readers, line_number_,
                                [&](PieceStart, std::uint64_t, std::string_view) { return &layout_; });
        }
        if (bounds.found) {
            std::lock_guard<std::mutex> lock(known_mutex_);
            known_ = {layout_.run_state(), layout_.open_query()};
        }
    }
    return !bounds.report_ends;
}

}  // namespace

std::optional<ReportNotes> convert_in_stretches(int descriptor, const std::string& path, FieldWriter& writer,
                                                std::size_t stretch_size, const Kernel& kernel,
                                                std::uint64_t size_at_start, unsigned threads) {
    // An HTML page's text is read from start to end (html_text.hpp).
    if (is_html_report(descriptor)) return std::nullopt;
    Conversion conversion(descriptor, path, writer, stretch_size, kernel, size_at_start);
    if (!convert_in_order(conversion, threads_for(conversion.stretches(), threads))) return std::nullopt;
    return conversion.finish();
}

}  // namespace hittab::hsptab
