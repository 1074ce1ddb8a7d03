// Conversion of a plain report in a regular file on several threads: each
// takes the next stretch of the file and reads its lines ahead of its turn,
// noting what they say until every field of a row is known and writing rows
// from there on; in turn, in report order, what a stretch said is applied to
// the one hit record and its rows go to the table. A stretch that fails, or
// says too much to hold, is read (the rest of it) in turn instead. The
// table, failures and line numbers are those of `convert`.
#pragma once

#include <cstdint>
#include <string>

#include "kernel.hpp"
#include "report_reader.hpp"
#include "stretch_reader.hpp"
#include "table_writer.hpp"

namespace hittab {

// Converts the report open as `descriptor` (a regular file of plain text;
// see reads_in_stretches), named `path` in failure reports, into `table`,
// in stretches of `stretch_size` bytes, on `threads` threads (0: as many as
// threads_for gives). False, with nothing read or written, when more than
// one thread is to convert it and no second thread can be started. The report must keep the size it
// has as reading begins, `size_at_start` (see size_now): a file cut short
// or grown while it is read fails (StretchReader).
bool convert_in_stretches(int descriptor, const std::string& path, TableWriter& table,
                          std::size_t stretch_size = default_block_size, const Kernel& kernel = best_kernel(),
                          std::uint64_t size_at_start = size_now, unsigned threads = 0);

}  // namespace hittab
