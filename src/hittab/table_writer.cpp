#include "table_writer.hpp"

#include <cstdint>
#include <cstring>

namespace hittab {

namespace {

// Copies `size` bytes; values are short, and a call to the library's copy
// for each of them costs more than the copy itself.
void copy_value(char* to, const char* from, std::size_t size) {
    auto copy_pair = [&](auto chunk) {
        constexpr std::size_t width = sizeof chunk;
        std::memcpy(&chunk, from, width);
        std::memcpy(to, &chunk, width);
        std::memcpy(&chunk, from + size - width, width);
        std::memcpy(to + size - width, &chunk, width);
    };
    struct Sixteen {
        std::uint64_t low, high;
    };
    if (size > 32) {
        std::memcpy(to, from, size);
    } else if (size >= 16) {
        copy_pair(Sixteen{});
    } else if (size >= 8) {
        copy_pair(std::uint64_t{});
    } else if (size >= 4) {
        copy_pair(std::uint32_t{});
    } else if (size > 0) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    }
}

void write_row(const HitRecord& record, RowOutput& output) {
    std::size_t row_size = 0;
    // Unrolled, each column gets its own copy with its own branches, which
    // learn that column's usual width.
#pragma GCC unroll 9
    for (const Column& column : columns) row_size += (record.*column.field).size() + 1;
    char* out = output.room(row_size);
    if (out == nullptr) {
        // A row larger than the whole buffer goes straight to the stream.
        for (std::size_t i = 0; i < columns.size(); ++i) {
            output.write(record.*columns[i].field);
            output.write(i + 1 < columns.size() ? " " : "\n");
        }
        return;
    }
#pragma GCC unroll 9
    for (const Column& column : columns) {
        std::string_view value = record.*column.field;
        copy_value(out, value.data(), value.size());
        out += value.size();
        *out++ = ' ';
    }
    out[-1] = '\n';
    output.commit(row_size);
}

}  // namespace

TableWriter create_table(const std::string& path) { return TableWriter{RowOutput(create_exclusively(path), path)}; }

void dump(const HitRecord& record, TableWriter& table) {
    if (!table.header_written) {
        // The header row is a record that still holds the column names.
        table.header_written = true;
        write_row(HitRecord(), table.output_fp);
        return;
    }
    write_row(record, table.output_fp);
}

void close_table(TableWriter& table) { table.output_fp.close(); }

}  // namespace hittab
