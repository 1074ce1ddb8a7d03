// The report reader: hands out the report as whole lines, read in
// large blocks, with every line end (LF, CR LF or a lone CR) turned into a
// single LF. A gzip or zstd report is decompressed on the way, so callers
// see the same lines either way. The blocks are read ahead by a thread of
// the reader's own. Memory grows only with the longest line, never with the
// report.
#pragma once

#include <cstddef>
#include <exception>
#include <memory>
#include <string>

#include "file.hpp"
#include "padded_text.hpp"
#include "read_ahead.hpp"

namespace hittab {

inline constexpr std::size_t default_block_size = 1024 * 1024;

class ReportReader {
public:
    // Reads `blast_fp`'s descriptor, named `path` in failure reports, in
    // blocks of `block_size` bytes; the stream's own buffer is never used.
    ReportReader(FileHandle blast_fp, std::string path, std::size_t block_size = default_block_size);

    // The next whole lines, each ending in LF, except that the
    // report's last line is handed out without one when the report has none.
    // Empty at the end of the report. Valid until the next call. A failure
    // to read comes after every whole line read before it.
    PaddedView next_lines();

    // After a failure at a line of a compressed report: reads the rest of
    // the report and throws the damage found there, if any, since damaged
    // data decodes into lines that break the layout before the checksum
    // that tells the damage is reached. No line is handed out after it.
    void raise_damage_in_rest();

    // Closes the report; a failure to close is an I/O failure.
    void close();

    const std::string& path() const { return path_; }

private:
    void gather_long_line(const char* text, std::size_t size);

    std::string path_;
    FileHandle blast_fp_;
    std::unique_ptr<ReadAhead> read_ahead_;
    Block held_;  // the block the lines handed out last lie in
    // [pending_begin_, pending_end_): the unfinished line in the block held.
    const char* pending_begin_ = nullptr;
    const char* pending_end_ = nullptr;
    // A line too long for a block's room is gathered here instead.
    PaddedBuffer long_line_{0};
    std::size_t long_line_size_ = 0;
    bool long_line_handed_out_ = false;
    bool at_end_ = false;
    std::exception_ptr failure_;  // reading failed after the block held
};

// Opens the report at `path`; a refusal is an I/O failure.
ReportReader open_report(const std::string& path, std::size_t block_size = default_block_size);

}  // namespace hittab
