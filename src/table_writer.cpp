#include "table_writer.hpp"

#include <cerrno>
#include <cstring>

namespace hittab {

namespace {

constexpr const char header_row[] = "id1 id2 length score length2 e_value identities gaps strand\n";

// Rows are handed to the stream in writes of about this size.
constexpr std::size_t flush_threshold = 256 * 1024;

void write_pending(TableWriter& table) {
    if (table.pending.empty()) return;
    errno = 0;
    std::size_t written = std::fwrite(table.pending.data(), 1, table.pending.size(), table.output_fp);
    if (written != table.pending.size()) {
        int error_number = errno;
        table.pending.clear();
        raise_io_failure("write table", table.path, error_number);
    }
    table.pending.clear();
}

}  // namespace

void raise_io_failure(const char* action, const std::string& path, int error_number) {
    std::string message = std::string("cannot ") + action + " '" + path + "': ";
    message += error_number != 0 ? std::strerror(error_number) : "unknown error";
    throw Failure(FailureKind::io, message);
}

TableWriter::TableWriter(const std::string& table_path) : path(table_path) {
    errno = 0;
    // "x" creates exclusively: a file or link that appeared at this path
    // since the existence check is neither followed nor truncated.
    output_fp = std::fopen(path.c_str(), "wx");
    if (output_fp == nullptr) {
        if (errno == EEXIST) {
            throw Failure(FailureKind::precondition,
                          "the table '" + path + "' already exists; it is left untouched");
        }
        raise_io_failure("create table", path, errno);
    }
    // Rows are already gathered in `pending`; a second buffer would only copy.
    std::setvbuf(output_fp, nullptr, _IONBF, 0);
    pending.reserve(flush_threshold + 4096);
}

TableWriter::TableWriter(std::FILE* stream, std::string name) : path(std::move(name)), output_fp(stream) {}

TableWriter::~TableWriter() {
    if (output_fp == nullptr) return;
    // Only reached on the way out of a failed run: keep what was produced,
    // the failure being reported is the one that matters.
    if (!pending.empty()) std::fwrite(pending.data(), 1, pending.size(), output_fp);
    std::fclose(output_fp);
}

void dump(const HitRecord& record, TableWriter& table) {
    std::string& row = table.pending;
    if (!table.header_written) {
        row += header_row;
        table.header_written = true;
    } else {
        const std::string_view values[] = {record.id1,     record.id2,        record.length,
                                           record.score,   record.length2,    record.e_value,
                                           record.identities, record.gaps,    record.strand};
        std::size_t size = row.size();
        std::size_t row_size = 0;
        for (std::string_view value : values) row_size += value.size() + 1;
        row.resize(size + row_size);
        char* out = row.data() + size;
        for (std::string_view value : values) {
            std::memcpy(out, value.data(), value.size());
            out += value.size();
            *out++ = ' ';
        }
        out[-1] = '\n';
    }
    if (row.size() >= flush_threshold) write_pending(table);
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
