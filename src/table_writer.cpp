#include "table_writer.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace hittab {

namespace {

constexpr const char header_row[] = "id1 id2 length score length2 e_value identities gaps strand\n";

void write_bytes(TableWriter& table, const char* bytes, std::size_t size) {
    if (size == 0) return;  // an empty value may view no storage at all
    errno = 0;
    if (std::fwrite(bytes, 1, size, table.output_fp) != size) {
        table.write_failed = true;
        raise_io_failure("write table", table.path, errno);
    }
}

void write_pending(TableWriter& table) {
    std::size_t size = table.pending_size;
    table.pending_size = 0;  // written or lost: never written twice
    if (size != 0) write_bytes(table, table.pending.get(), size);
}

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

}  // namespace

void raise_table_exists(const std::string& path) {
    throw Failure(FailureKind::precondition, "the table '" + path + "' already exists; it is left untouched");
}

TableWriter::TableWriter(const std::string& table_path) : path(table_path) {
    errno = 0;
    // "x" creates exclusively: a file or link that appeared at this path
    // since the existence check is neither followed nor truncated.
    output_fp = std::fopen(path.c_str(), "wx");
    if (output_fp == nullptr) {
        if (errno == EEXIST) raise_table_exists(path);
        raise_io_failure("create table", path, errno);
    }
    // Rows are already gathered in `pending`; a second buffer would only copy.
    std::setvbuf(output_fp, nullptr, _IONBF, 0);
    pending.reset(new char[table_buffer_size]);
}

TableWriter::TableWriter(std::FILE* stream, std::string name)
    : path(std::move(name)), output_fp(stream), pending(new char[table_buffer_size]) {}

TableWriter::~TableWriter() {
    if (output_fp == nullptr) return;
    // Only reached on the way out of a failed run: keep what was produced,
    // the failure being reported is the one that matters.
    if (pending_size != 0) std::fwrite(pending.get(), 1, pending_size, output_fp);
    std::fclose(output_fp);
}

void dump(const HitRecord& record, TableWriter& table) {
    if (!table.header_written) {
        table.header_written = true;
        constexpr std::size_t header_size = sizeof header_row - 1;
        if (header_size > table_buffer_size - table.pending_size) write_pending(table);
        std::memcpy(table.pending.get() + table.pending_size, header_row, header_size);
        table.pending_size += header_size;
        return;
    }
    const std::string_view values[] = {record.id1,     record.id2,        record.length,
                                       record.score,   record.length2,    record.e_value,
                                       record.identities, record.gaps,    record.strand};
    std::size_t row_size = 0;
    for (std::string_view value : values) row_size += value.size() + 1;
    if (row_size > table_buffer_size - table.pending_size) write_pending(table);
    if (row_size > table_buffer_size) {
        // A row larger than the whole buffer goes straight to the stream.
        for (std::size_t i = 0; i < std::size(values); ++i) {
            write_bytes(table, values[i].data(), values[i].size());
            write_bytes(table, i + 1 < std::size(values) ? " " : "\n", 1);
        }
        return;
    }
    char* out = table.pending.get() + table.pending_size;
    for (std::string_view value : values) {
        copy_value(out, value.data(), value.size());
        out += value.size();
        *out++ = ' ';
    }
    out[-1] = '\n';
    table.pending_size += row_size;
}

std::string close_table_after_failure(TableWriter& table) noexcept {
    // A refused write has been reported as the failure itself.
    if (table.write_failed) return std::string();
    try {
        close_table(table);
        return std::string();
    } catch (const Failure& failure) {
        int error_number = failure.error_number != 0 ? failure.error_number : EIO;
        return "the table '" + table.path + "' could not be completed: " + std::strerror(error_number);
    } catch (...) {
        return "the table '" + table.path + "' could not be completed";
    }
}

void close_table(TableWriter& table) {
    write_pending(table);
    std::FILE* stream = table.output_fp;
    table.output_fp = nullptr;
    errno = 0;
    bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
    int error_number = errno;
    if (std::fclose(stream) != 0 && flushed) {
        flushed = false;
        error_number = errno;
    }
    if (!flushed) raise_io_failure("write table", table.path, error_number);
}

}  // namespace hittab
