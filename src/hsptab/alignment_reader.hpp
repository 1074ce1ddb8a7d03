// The alignment lines of an HSP: the usual BLAST+ blocks (a Query line, its
// midline and its Sbjct line, then blank lines) read together from the
// kernel's masks, and every other shape line by line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hsp.hpp"
#include "marked_lines.hpp"

namespace hittab::hsptab {

// Where the reading of an alignment stands between two of its lines.
struct AlignmentProgress {
    bool keep_sequences = false;               // a field needs the aligned residues themselves
    bool awaiting_subject_line = false;        // a Query line has been read, its Sbjct line not yet
    std::size_t awaiting_subject_columns = 0;  // that Query line's columns
};

// From `start`, the lines of the alignment in `hsp` up to the first that is
// something else: gives that line's start, or `end`. `line_number` is the
// number of the line before `start`, and becomes that of the last line
// read. A line that breaks the alignment raises a layout failure.
const char* read_alignment(const MarkedLines& marked, const char* start, const char* end, std::uint64_t& line_number,
                           Hsp& hsp, AlignmentProgress& progress);

}  // namespace hittab::hsptab
