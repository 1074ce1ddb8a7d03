// The table writer: one header row, then one row per hit, nine values
// separated by single spaces, every value written byte for byte.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "hit_record.hpp"

namespace hittab {

// The open table. Rows collect in `pending` and reach `output_fp` in large
// writes; whatever is pending when the holder goes out of scope on a failure
// is still written, so the table keeps every row produced before it.
struct TableWriter {
    // Creates `path` as a new file; never opens or follows anything already
    // there. A table that exists, or appears before the creation, is a
    // precondition failure; any other refusal is an I/O failure.
    explicit TableWriter(const std::string& path);
    // Adopts a stream that is already open for writing (used by tests).
    TableWriter(std::FILE* stream, std::string name);
    ~TableWriter();
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;

    std::string path;
    std::FILE* output_fp = nullptr;
    bool header_written = false;
    std::unique_ptr<char[]> pending;  // table_buffer_size bytes, of which `pending_size` are rows
    std::size_t pending_size = 0;
    bool write_failed = false;  // a write was refused, and that failure reported
};

// Rows are handed to the stream in writes of up to this size.
inline constexpr std::size_t table_buffer_size = 256 * 1024;

// The first call writes the header row (the nine column names); every later
// call writes the record as a row.
void dump(const HitRecord& record, TableWriter& table);

// Writes what is pending and closes the table; any failure to write, flush or
// close is raised as an I/O failure.
void close_table(TableWriter& table);

// Writes what is pending and closes the table after a failure has ended the
// run. Returns empty text when every row produced reached the file, else
// "the table '<path>' could not be completed: <system message>".
std::string close_table_after_failure(TableWriter& table) noexcept;

// The precondition failure for a table path that is already taken.
[[noreturn]] void raise_table_exists(const std::string& path);

}  // namespace hittab
