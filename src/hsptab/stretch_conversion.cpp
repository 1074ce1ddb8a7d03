#include "stretch_conversion.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>

#include "layout_reader.hpp"
#include "row_output.hpp"
#include "stretch_reader.hpp"
#include "taking_turns.hpp"

namespace hittab::hsptab {

namespace {

// A piece read ahead of its turn holds at most this many bytes of rows;
// one that would hold more is read again in turn, writing straight to the
// table, so that memory stays flat whatever the report.
constexpr std::size_t most_row_bytes = 1024 * 1024;
// A piece runs on past its stretch, to the next query line, which is
// usually near: it reads a little first, then ever more at a time.
constexpr std::size_t first_read_size = 4 * 1024;
constexpr std::size_t largest_read_size = 256 * 1024;

// Where the first line of `lines` (whole lines) that begins a query starts,
// "Query= DEFINITION" or a bare "Query=", as the layout reader takes them
// anywhere after the program line; the size of `lines` when none does.
std::size_t first_query_line(std::string_view lines) {
    constexpr std::string_view label = "Query=";
    for (std::size_t at = 0; at + label.size() <= lines.size();) {
        if (lines.compare(at, label.size(), label) == 0) {
            std::size_t after = at + label.size();
            if (after == lines.size() || lines[after] == ' ' || lines[after] == '\n') return at;
        }
        const void* found = memmem(lines.data() + at, lines.size() - at, "\nQuery=", 7);
        if (found == nullptr) break;
        at = static_cast<std::size_t>(static_cast<const char*>(found) - lines.data()) + 1;
    }
    return lines.size();
}

enum class PieceEnd { next_query, report_end };

// What one thread keeps from piece to piece: its readers, and what it
// reads ahead of its turn.
struct ThreadPart {
    ThreadPart(int descriptor, const std::string& path, std::size_t stretch_size, std::uint64_t size)
        : stretches(descriptor, path, stretch_size, size), onward(descriptor, path, first_read_size, size) {}

    StretchReader stretches;
    StretchReader onward;  // for the lines past the stretch

    // A piece read ahead: its rows, and the reader that read it, kept from
    // piece to piece but for a failure.
    RowSink rows;
    std::optional<RowOutput> output;
    std::optional<FieldWriter> writer;
    std::optional<LayoutReader> layout;
    RunState assumed;
    std::uint64_t lines = 0;
    PieceEnd end = PieceEnd::next_query;
};

class Conversion {
public:
    Conversion(int descriptor, const std::string& path, FieldWriter& writer, std::size_t stretch_size,
               const Kernel& kernel, std::uint64_t size_at_start)
        : descriptor_(descriptor),
          path_(path),
          writer_(writer),
          stretch_size_(stretch_size),
          size_(size_at_start != size_now ? size_at_start : report_size(descriptor, path)),
          kernel_(kernel),
          layout_(path, writer, kernel) {}

    // Converts the next piece no thread has taken, again and again, until
    // the report ends or the conversion fails.
    void operator()() noexcept {
        try {
            ThreadPart thread(descriptor_, path_, stretch_size_, size_);
            while (!turns_.over()) convert_piece(turns_.take_next(), thread);
        } catch (...) {
            turns_.end(std::current_exception());
        }
    }

    // Once both threads are done: the end of the report, or the failure.
    ReportNotes finish() {
        turns_.rethrow_failure();
        layout_.finish(line_number_);
        return layout_.notes();
    }

private:
    void convert_piece(std::uint64_t index, ThreadPart& thread);
    // Reads piece `index`, which begins with `own` (the lines of its stretch
    // from its first query line on) into `layout`, counting lines in
    // `line_number`. A failure to read the report is raised.
    PieceEnd read_piece(std::uint64_t index, const Stretch& stretch, PaddedView own, ThreadPart& thread,
                        LayoutReader& layout, std::uint64_t& line_number);
    // Reads the piece ahead of its turn, as if the lines before had left
    // `state`; false
    // when it must be read again in turn (a line that fails, too many rows,
    // a program line: anything the piece cannot say alone).
    bool read_ahead(std::uint64_t index, const Stretch& stretch, PaddedView own, ThreadPart& thread,
                    const RunState& state) noexcept;

    std::optional<RunState> known_run() {
        std::lock_guard<std::mutex> lock(known_run_mutex_);
        return known_run_;
    }

    const int descriptor_;
    const std::string& path_;
    FieldWriter& writer_;
    const std::size_t stretch_size_;
    const std::uint64_t size_;  // of the report as reading begins, the same for both threads
    const Kernel& kernel_;

    // Touched only by the thread whose turn it is.
    LayoutReader layout_;
    std::uint64_t line_number_ = 0;  // of the last line read in turn

    std::mutex known_run_mutex_;
    std::optional<RunState> known_run_;  // the run open after the last piece read in turn

    TakingTurns turns_;
};

PieceEnd Conversion::read_piece(std::uint64_t index, const Stretch& stretch, PaddedView own, ThreadPart& thread,
                                LayoutReader& layout, std::uint64_t& line_number) {
    layout.read_lines(own, line_number);
    if (stretch.failure) std::rethrow_exception(stretch.failure);
    if (stretch.last) return PieceEnd::report_end;
    std::uint64_t from = (index + 1) * stretch_size_;
    for (std::size_t size = first_read_size;; size = std::min(2 * size, largest_read_size)) {
        Stretch next = thread.onward.read_lines_starting_in(from, from + size);
        from += size;
        std::size_t query_at = first_query_line(next.lines.text());
        layout.read_lines(next.lines.substr(0, query_at), line_number);
        if (query_at < next.lines.size()) return PieceEnd::next_query;
        if (next.failure) std::rethrow_exception(next.failure);
        if (next.last) return PieceEnd::report_end;
    }
}

bool Conversion::read_ahead(std::uint64_t index, const Stretch& stretch, PaddedView own, ThreadPart& thread,
                            const RunState& state) noexcept {
    try {
        thread.rows.bytes.clear();
        if (!thread.layout) {
            thread.rows.most = most_row_bytes;
            thread.output.emplace(gathering_rows(thread.rows, path_));
            thread.writer.emplace(writer_, *thread.output);
            thread.layout.emplace(path_, *thread.writer, kernel_);
        }
        LayoutReader& layout = *thread.layout;
        layout.start_piece(state);
        thread.assumed = state;
        thread.lines = 0;
        thread.end = read_piece(index, stretch, own, thread, layout, thread.lines);
        if (thread.end == PieceEnd::next_query) {
            layout.end_before_query(thread.lines + 1);
        } else {
            layout.end_last_query(thread.lines);
        }
        thread.output->flush();
        return layout.programs_read() == 0;
    } catch (...) {
        // Whatever the failure left half done goes with them.
        thread.layout.reset();
        thread.writer.reset();
        thread.output.reset();
        return false;
    }
}

void Conversion::convert_piece(std::uint64_t index, ThreadPart& thread) {
    std::exception_ptr cut_short;  // ahead of the turn: raised in turn
    Stretch stretch;
    std::size_t query_at = 0;
    bool read = false;
    try {
        stretch = thread.stretches.read(index);
        // The lines before the first query line belong to the piece before.
        query_at = index == 0 ? 0 : first_query_line(stretch.lines.text());
        if (query_at < stretch.lines.size() && !turns_.is_turn_of(index)) {
            if (std::optional<RunState> state = known_run()) {
                read = read_ahead(index, stretch, stretch.lines.substr(query_at), thread, *state);
            }
        }
    } catch (...) {
        cut_short = std::current_exception();
    }
    if (!turns_.wait_for(index)) return;
    if (cut_short) std::rethrow_exception(cut_short);

    PieceEnd end = PieceEnd::next_query;
    if (query_at < stretch.lines.size() || index == 0) {
        // What is open ends at this piece's query line.
        if (index != 0) layout_.end_before_query(line_number_ + 1);
        if (read && layout_.continues_with(thread.assumed)) {
            layout_.go_on_after(*thread.layout);
            writer_.pass_on(thread.rows.bytes);
            line_number_ += thread.lines;
            end = thread.end;
        } else {
            end = read_piece(index, stretch, stretch.lines.substr(query_at), thread, layout_, line_number_);
        }
        std::lock_guard<std::mutex> lock(known_run_mutex_);
        if (std::optional<RunState> state = layout_.run_state()) known_run_ = std::move(state);
    } else {
        // No query line starts in the stretch: the piece before has read it,
        // unless reading it failed, which leaves its lines unknown.
        if (stretch.failure) std::rethrow_exception(stretch.failure);
        if (stretch.last) end = PieceEnd::report_end;
    }
    if (end == PieceEnd::report_end) {
        turns_.end();
    } else {
        turns_.pass(index + 1);
    }
}

}  // namespace

std::optional<ReportNotes> convert_in_stretches(int descriptor, const std::string& path, FieldWriter& writer,
                                                std::size_t stretch_size, const Kernel& kernel,
                                                std::uint64_t size_at_start) {
    Conversion conversion(descriptor, path, writer, stretch_size, kernel, size_at_start);
    if (!work_on_two_threads(conversion)) return std::nullopt;
    return conversion.finish();
}

}  // namespace hittab::hsptab
