// The report line scanner: decides what one line of the report is and copies
// the values it carries into the hit record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hit_record.hpp"
#include "table_writer.hpp"

namespace hittab {

// Reads one line (with its LF, if it has one). A title line (">") first has
// the previous hit written, then loads id1, id2 and length; Score, Identities
// and Strand lines overwrite their fields; any other line changes nothing.
// A malformed line raises an unpacking or index failure carrying
// `line_number`. Like all text given to the scanner, the line must be
// followed by text_padding readable bytes (the reader's buffer has them).
void scan_line(std::string_view line, std::uint64_t line_number, HitRecord& record, TableWriter& table);

// Scans a run of whole lines whose first line is `first_line_number`, and
// returns the number of the line that follows the run. On return the record
// no longer refers to `lines`.
std::uint64_t scan_lines(std::string_view lines, std::uint64_t first_line_number, HitRecord& record,
                         TableWriter& table);

// Makes every field of `record` view its own copy of its value, so that
// the report text the values were read from can be replaced.
void keep_values(HitRecord& record);

// Cuts `text` into tokens at runs of whitespace (space, tab, LF, VT, FF, CR
// and 0x1C to 0x1F; every other byte, NUL and bytes from 0x80 included, is
// part of a token). Stores at most `max_tokens` and returns how many it stored.
// `text` must be followed by text_padding readable bytes.
std::size_t tokenise(std::string_view text, std::string_view* tokens, std::size_t max_tokens);

}  // namespace hittab
