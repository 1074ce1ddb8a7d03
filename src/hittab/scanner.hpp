// The report line scanner: decides what one line of the report is and copies
// the values it carries into the hit record.
#pragma once

#include <cstdint>

#include "hit_record.hpp"
#include "kernel.hpp"
#include "padded_text.hpp"
#include "table_writer.hpp"

namespace hittab {

// Reads one line (with its LF, if it has one). A title line (">") first has
// the previous hit written, then loads id1, id2 and length; Score, Identities
// and Strand lines overwrite their fields; any other line changes nothing.
// A malformed line raises an unpacking or index failure carrying `line_number`.
void scan_line(PaddedView line, std::uint64_t line_number, HitRecord& record, TableWriter& table, const Kernel& kernel);

// The lines that change the hit record.
enum class LineKind : std::uint8_t { other, title, score, identities, strand };

// Reads `line` as scan_line does, but into `values` rather than the hit
// record, and writes no row: lines read apart, on another thread, are
// applied to the record later, in report order.
LineKind read_line(PaddedView line, std::uint64_t line_number, HitRecord& values, const Kernel& kernel);

// Scans whole lines whose first line is `first_line_number`, and returns
// the number of the line that follows them. On return the record
// no longer refers to `lines`.
std::uint64_t scan_lines(PaddedView lines, std::uint64_t first_line_number, HitRecord& record, TableWriter& table,
                         const Kernel& kernel);

// Makes every field of `record` view its own copy of its value, so that
// the report text the values were read from can be replaced.
void keep_values(HitRecord& record);

}  // namespace hittab
