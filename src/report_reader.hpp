// The report reader: hands out the report as runs of whole lines read in
// large blocks, with every line end (LF, CR LF or a lone CR) turned into a
// single LF. Memory grows only with the longest line, never with the report.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace hittab {

inline constexpr std::size_t default_block_size = 128 * 1024;

struct ReportReader {
    // Opens `path` for reading; a refusal is an I/O failure.
    explicit ReportReader(const std::string& path, std::size_t block_size = default_block_size);
    // Adopts a stream that is already open for reading (used by tests).
    ReportReader(std::FILE* stream, std::string name, std::size_t block_size);
    ~ReportReader();
    ReportReader(const ReportReader&) = delete;
    ReportReader& operator=(const ReportReader&) = delete;

    std::string path;
    std::FILE* blast_fp = nullptr;
    char* allocation = nullptr;  // capacity bytes with text_padding on both sides
    std::size_t capacity = 0;
    std::size_t tail_begin = 0;  // [tail_begin, filled): a line not yet complete
    std::size_t filled = 0;
    bool previous_was_cr = false;  // a CR ended the last block; an LF opening the next is its pair
    bool at_end = false;
};

// The next run of whole lines, each ending in LF, except that the report's
// last line is handed out without one when the report has none. Empty at the
// end of the report. The view stays valid until the next call, and has
// text_padding readable bytes on both sides.
std::string_view next_lines(ReportReader& reader);

// Closes the report; a failure to close is an I/O failure.
void close_report(ReportReader& reader);

// Rewrites CR LF and lone CR in [text, text + size) as LF, in place, and
// returns the new size. `previous_was_cr` carries a CR at the end of one
// block over to an LF at the start of the next.
std::size_t normalise_line_ends(char* text, std::size_t size, bool& previous_was_cr);

}  // namespace hittab
