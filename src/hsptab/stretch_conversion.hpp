// Conversion of a plain report in a regular file on several threads. The
// report is cut into pieces at "Query=" lines and at subjects' titles: a
// thread takes the next stretch of the file, and its piece runs from the
// first such line that starts in the stretch to the first one that starts
// in a later stretch. Assuming the run (program, database) the piece
// belongs to, and for a piece that begins at a title the query too (read
// from its query line shortly before, or the one last known open), the
// thread reads it ahead of its turn, rows and all; at its turn, in report
// order, the rows go to the table if what came before left that run and
// query open, and otherwise the piece is read again in turn. The table,
// failures and line numbers are those of `convert`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "field_writer.hpp"
#include "kernel.hpp"
#include "layout_reader.hpp"
#include "report_reader.hpp"
#include "stretch_reader.hpp"

namespace hittab::hsptab {

// Converts the report open as `descriptor` (a regular file of plain text;
// see reads_in_stretches), named `path` in failure reports, into `writer`,
// in stretches of `stretch_size` bytes on `threads` threads (0: as many as
// threads_for gives), giving the subjects the report lists without an
// alignment. Nothing, with nothing read or written, when more than one
// thread is to convert it and no second thread can be started, or when the
// report is an HTML page, which is read from start to end. The report must keep the size it
// has as reading begins, `size_at_start` (see size_now): a file cut short
// or grown while it is read fails (StretchReader).
std::optional<ReportNotes> convert_in_stretches(int descriptor, const std::string& path, FieldWriter& writer,
                                                std::size_t stretch_size = default_block_size,
                                                const Kernel& kernel = best_kernel(),
                                                std::uint64_t size_at_start = size_now, unsigned threads = 0);

}  // namespace hittab::hsptab
