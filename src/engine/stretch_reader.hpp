// Reading a plain report in a regular file stretch by stretch, in any order
// and from several threads at once: stretch i holds the lines that start in
// bytes [i * size, (i + 1) * size) of the file, each read whole (past the
// stretch's end if need be), every line end (LF, CR LF or a lone CR) made a
// single LF. Together the stretches hold every line once, as the report
// reader hands them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "padded_text.hpp"

namespace hittab {

struct Stretch {
    PaddedView lines;             // whole lines, each ending in LF but perhaps the report's last
    bool last = false;            // the report ends in this stretch
    std::uint64_t next_line = 0;  // the file offset of the first line after `lines`, if the report goes on
    std::exception_ptr failure;   // reading failed after `lines`: the report is over
};

// Whether the report open as `descriptor` is read in stretches: a regular
// file of plain text at least `smallest` bytes long. Compressed reports,
// pipes and terminals are read from start to end instead.
bool reads_in_stretches(int descriptor, std::uint64_t smallest);

// The size of the report open as `descriptor`, named `path` in failure
// reports: what every reader of one conversion is given, once, at its start.
std::uint64_t report_size(int descriptor, const std::string& path);

// For a conversion's `size_at_start`: the size the report has as the
// conversion begins. A caller may pass a size it learned before instead.
inline constexpr std::uint64_t size_now = ~std::uint64_t{0};

class StretchReader {
public:
    // Reads `descriptor` (not owned), named `path` in failure reports, in
    // stretches of `stretch_size` bytes. Each thread needs a reader of its own.
    // The file holds `size` bytes (report_size) as reading begins, and must
    // hold them to the end: a read that finds fewer fails with
    // report_cut_short, one that finds more with report_grew. Either
    // failure comes after the lines read whole before it, as any failure
    // to read does.
    StretchReader(int descriptor, std::string path, std::size_t stretch_size, std::uint64_t size);

    // Stretch `index`; valid until the next call.
    Stretch read(std::uint64_t index) {
        return read_lines_starting_in(index * stretch_size_, (index + 1) * stretch_size_);
    }

    // The lines that start in bytes [begin, end) of the file, as a stretch
    // holds them; valid until the next call. Reading the file in any ranges
    // that meet end to end gives every line once.
    Stretch read_lines_starting_in(std::uint64_t begin, std::uint64_t end);

private:
    // Makes byte `position` of the file (counted from `first_`) be in the
    // buffer, each read asking for at least `at_least` bytes; false when the
    // file ends before it.
    bool load(std::uint64_t position, std::size_t at_least);
    // The same past the stretch, where lines are usually short: the first
    // read is small, and each read after it doubles, for a long line.
    bool load_past_stretch(std::uint64_t position);
    // The first line start at or after byte `position`, or `limit` when
    // none comes before it (the search reads no further), or the file's end.
    std::uint64_t line_start_from(std::uint64_t position, std::uint64_t limit);

    int descriptor_;
    std::string path_;
    std::size_t stretch_size_;
    std::uint64_t size_;  // of the file as reading began
    PaddedBuffer buffer_;
    std::uint64_t first_ = 0;           // the file offset of the buffer's first byte
    std::size_t loaded_ = 0;            // bytes of the file in the buffer
    bool at_end_ = false;               // the file ends after the bytes loaded
    bool has_carriage_return_ = false;  // a CR is among the bytes loaded
    std::size_t extension_ = 0;         // the fewest bytes the next read past the stretch asks for
    std::exception_ptr failure_;        // reading failed after the bytes loaded
};

}  // namespace hittab
