#include "stretch_conversion.hpp"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "hit_record.hpp"
#include "scanner.hpp"
#include "small_thread.hpp"
#include "stretch_reader.hpp"

namespace hittab {

namespace {

// A stretch whose lines say more than this applies them in parts while it
// holds its turn, so that memory stays flat whatever the lines.
constexpr std::size_t most_line_values = 16 * 1024;
// Likewise for rows written ahead of a thread's turn.
constexpr std::size_t most_row_bytes = 1024 * 1024;
// A turn usually comes within a fraction of a stretch's time: waiting for
// it awake is far quicker than being woken.
constexpr int checks_before_sleeping = 4096;

void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

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
    void work() noexcept;

    // Once both threads are done: the last hit's row, or the failure.
    void finish() {
        if (failure_) std::rethrow_exception(failure_);
        dump(record_, table_);
    }

private:
    // Waits until stretch `index` may be applied; false once the conversion is over.
    bool wait_for_turn(std::uint64_t index);
    void pass_turn(std::uint64_t next_index);
    // Ends the conversion for both threads, with `failure` unless one came first.
    void end(std::exception_ptr failure);

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

    std::atomic<std::uint64_t> next_index_{0};  // the first stretch no thread has taken
    std::atomic<std::uint64_t> turn_{0};
    std::atomic<bool> over_{false};
    std::mutex mutex_;
    std::condition_variable turn_passed_;
    std::exception_ptr failure_;
};

bool Conversion::wait_for_turn(std::uint64_t index) {
    for (int check = 0; check < checks_before_sleeping; ++check) {
        if (over_.load(std::memory_order_acquire)) return false;
        if (turn_.load(std::memory_order_acquire) == index) return true;
        pause_briefly();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    turn_passed_.wait(lock, [&] { return over_.load() || turn_.load() == index; });
    return !over_.load();
}

void Conversion::pass_turn(std::uint64_t next_index) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        turn_.store(next_index, std::memory_order_release);
    }
    turn_passed_.notify_all();
}

void Conversion::end(std::exception_ptr failure) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = failure;
        over_.store(true, std::memory_order_release);
    }
    turn_passed_.notify_all();
}

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

void Conversion::work() noexcept {
    try {
        StretchReader reader(descriptor_, path_, stretch_size_);
        std::vector<LineValues> lines;
        while (!over_.load(std::memory_order_acquire)) {
            convert_stretch(next_index_.fetch_add(1), reader, lines);
        }
    } catch (...) {
        end(std::current_exception());
    }
}

// Rows a thread writes ahead of its turn, with the table writer's own code,
// to a stream that gathers them in memory until the turn hands them to the
// table. Named after the table: running out of memory here is a failure to
// write it.
struct RowsAhead {
    explicit RowsAhead(const std::string& table_path) {
        cookie_io_functions_t functions{};
        functions.write = [](void* cookie, const char* data, std::size_t count) -> ssize_t {
            try {
                static_cast<std::string*>(cookie)->append(data, count);
            } catch (const std::bad_alloc&) {
                errno = ENOMEM;  // no exception may cross the C library
                return -1;
            }
            return static_cast<ssize_t>(count);
        };
        std::FILE* stream = fopencookie(&bytes, "w", functions);
        if (stream == nullptr) throw std::bad_alloc();
        table.emplace(TableWriter{RowOutput(FileHandle(stream), table_path), true});
    }
    // Closes the stream: `bytes` then holds every row.
    std::string_view close() {
        close_table(*table);
        table.reset();
        return bytes;
    }
    std::string bytes;
    std::optional<TableWriter> table;
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
                    scan_line(found[i].text, found[i].line_number, values, *rows->table, kernel_);
                } catch (const Failure& failure) {
                    // Rows that could not be gathered (memory ran out) are no fault of the line.
                    if (failure.kind == FailureKind::io) throw;
                    line_failure = std::current_exception();
                    break;
                }
                if (rows->bytes.size() >= most_row_bytes) {
                    // Rows far longer than their lines (a long value carried
                    // from hit to hit): written out in parts, in turn.
                    if (!holding_turn && !wait_for_turn(index)) return;
                    holding_turn = true;
                    apply(lines);
                    lines.clear();
                    table_.output_fp.write(rows->bytes);
                    rows->bytes.clear();
                }
            }
            if (lines.size() >= most_line_values && !rest.empty() && !line_failure && !rows) {
                if (!holding_turn && !wait_for_turn(index)) return;
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

    if (!holding_turn && !wait_for_turn(index)) return;
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
        end(nullptr);
        return;
    }
    pass_turn(index + 1);
}

}  // namespace

bool convert_in_stretches(int descriptor, const std::string& path, TableWriter& table, std::size_t stretch_size,
                          const Kernel& kernel) {
    Conversion conversion(descriptor, path, table, stretch_size, kernel);
    auto second_thread = [](void* conversion) -> void* {
        static_cast<Conversion*>(conversion)->work();
        return nullptr;
    };
    pthread_t helper;
    bool started = start_small_thread(helper, second_thread, &conversion);
    if (!started) return false;
    conversion.work();
    pthread_join(helper, nullptr);
    conversion.finish();
    return true;
}

}  // namespace hittab
