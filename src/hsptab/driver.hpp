// hsptab's driver: the command line, the inputs in order, one table.
#pragma once

#include <string>
#include <vector>

#include "field_writer.hpp"
#include "kernel.hpp"
#include "layout_reader.hpp"
#include "report_reader.hpp"

namespace hittab::hsptab {

// The one way through a conversion: every line of `report` through the
// layout reader into `writer`. Raises a Failure at the first line that breaks
// the layout; every row before it has been handed to the writer. `kernel`
// marks the bytes the layout reader looks for. Gives what the report
// leaves to say: report_warnings.
ReportNotes convert(ReportReader& report, FieldWriter& writer, const Kernel& kernel = best_kernel());

// The warnings written to standard error for the report named `report`
// (that it is empty; that it lists subjects the table has no rows for), or
// nothing.
std::string report_warnings(const ReportNotes& notes, const std::string& report);

// The program entry: runs hsptab with its arguments and returns the exit
// status: 0 on success, 1 after a failed conversion, 2 after a usage error.
int run(int argc, const char* const* argv);

}  // namespace hittab::hsptab
