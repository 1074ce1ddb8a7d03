// The report reader: hands out the report as runs of whole lines read in
// large blocks, with every line end (LF, CR LF or a lone CR) turned into a
// single LF. Memory grows only with the longest line, never with the report.
#pragma once

#include <cstddef>
#include <string>

#include "file.hpp"
#include "padded_text.hpp"

namespace hittab {

inline constexpr std::size_t default_block_size = 128 * 1024;

class ReportReader {
public:
    // Reads `blast_fp`, named `path` in failure reports, in blocks of
    // `block_size` bytes straight into the reader's own buffer.
    ReportReader(FileHandle blast_fp, std::string path, std::size_t block_size = default_block_size);

    // The next run of whole lines, each ending in LF, except that the
    // report's last line is handed out without one when the report has none.
    // Empty at the end of the report. Valid until the next call.
    PaddedView next_lines();

    // Closes the report; a failure to close is an I/O failure.
    void close();

    const std::string& path() const { return path_; }

private:
    std::string path_;
    FileHandle blast_fp_;
    PaddedBuffer buffer_;
    std::size_t tail_begin_ = 0;  // [tail_begin_, filled_): a line not yet complete
    std::size_t filled_ = 0;
    bool previous_was_cr_ = false;  // a CR ended the last block; an LF opening the next is its pair
    bool at_end_ = false;
};

// Opens the report at `path`; a refusal is an I/O failure.
ReportReader open_report(const std::string& path, std::size_t block_size = default_block_size);

// Rewrites CR LF and lone CR in [text, text + size) as LF, in place, and
// returns the new size. `previous_was_cr` carries a CR at the end of one
// block over to an LF at the start of the next.
std::size_t normalise_line_ends(char* text, std::size_t size, bool& previous_was_cr);

}  // namespace hittab
