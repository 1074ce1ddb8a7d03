// The table writer: one header row, then one row per hit, nine values
// separated by single spaces, every value written byte for byte.
#pragma once

#include <string>

#include "hit_record.hpp"
#include "row_output.hpp"

namespace hittab {

// The open table; see RowOutput for how rows reach the file.
struct TableWriter {
    RowOutput output_fp;
    bool header_written = false;
};

// Creates the table at `path` as a new file; never opens or follows anything
// already there (see create_exclusively).
TableWriter create_table(const std::string& path);

// The first call writes the header row (the nine column names); every later
// call writes the record as a row.
void dump(const HitRecord& record, TableWriter& table);

// Writes what is pending and closes the table; any failure to write, flush or
// close is raised as an I/O failure.
void close_table(TableWriter& table);

}  // namespace hittab
