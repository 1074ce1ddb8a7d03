// Conversion of a plain report in a regular file on two threads: each takes
// the next stretch of the file, reads it and finds and reads its lines; the two
// take turns, in report order, to apply what their stretches say to the one
// hit record and write the rows. A thread whose stretch is read before its
// turn parks it and reads its next meanwhile. The table, failures and line
// numbers are those of `convert`.
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
// in stretches of `stretch_size` bytes. False, with nothing read or written,
// when no second thread can be started. The report must keep the size it
// has as reading begins, `size_at_start` (see size_now): a file cut short
// or grown while it is read fails (StretchReader).
bool convert_in_stretches(int descriptor, const std::string& path, TableWriter& table,
                          std::size_t stretch_size = default_block_size, const Kernel& kernel = best_kernel(),
                          std::uint64_t size_at_start = size_now);

}  // namespace hittab
