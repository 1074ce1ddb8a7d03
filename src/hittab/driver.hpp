// The driver: checks the command line and the two file preconditions,
// owns the conversion's state, and turns the outcome into the exit status.
#pragma once

#include <string>

#include "kernel.hpp"
#include "report_reader.hpp"
#include "table_writer.hpp"

namespace hittab {

// The one way through a conversion: every line of `report` through the
// scanner into `table`, then the last hit's row (or the header row of a
// report without hits). Neither stream is closed here.
void convert(ReportReader& report, TableWriter& table, const Kernel& kernel = best_kernel());

// Converts the report `blastoutputfilename` into the new table
// `outputfilename`. Raises a Failure on anything that stops the conversion; the
// table then keeps the rows written before the failure.
void main(const std::string& blastoutputfilename, const std::string& outputfilename);

// The program entry: runs `hittab REPORT TABLE` and returns the exit status,
// 0 on success, 1 after writing one failure report to standard error.
int run(int argc, const char* const* argv);

}  // namespace hittab
