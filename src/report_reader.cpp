#include "report_reader.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "byte_search.hpp"
#include "hit_record.hpp"

namespace hittab {

namespace {

char* data_of(const ReportReader& reader) { return reader.allocation + text_padding; }

void allocate(ReportReader& reader, std::size_t capacity) {
    void* grown = std::realloc(reader.allocation, capacity + 2 * text_padding);
    if (grown == nullptr) throw std::bad_alloc();
    reader.allocation = static_cast<char*>(grown);
    reader.capacity = capacity;
    // The searches read whole windows around the text: give them defined bytes.
    std::memset(reader.allocation, 0, text_padding);
}

const char* last_line_end(const char* text, std::size_t size) {
    for (const char* p = text + size; p != text;) {
        if (*--p == '\n') return p;
    }
    return nullptr;
}

}  // namespace

ReportReader::ReportReader(const std::string& report_path, std::size_t block_size) : path(report_path) {
    errno = 0;
    // Binary mode: line ends are normalised here, the same on every platform.
    blast_fp = std::fopen(path.c_str(), "rb");
    if (blast_fp == nullptr) raise_io_failure("open report", path, errno);
    // Blocks are read straight into our own buffer.
    std::setvbuf(blast_fp, nullptr, _IONBF, 0);
    allocate(*this, block_size);
}

ReportReader::ReportReader(std::FILE* stream, std::string name, std::size_t block_size)
    : path(std::move(name)), blast_fp(stream) {
    allocate(*this, block_size);
}

ReportReader::~ReportReader() {
    if (blast_fp != nullptr) std::fclose(blast_fp);
    std::free(allocation);
}

std::size_t normalise_line_ends(char* text, std::size_t size, bool& previous_was_cr) {
    const char* read = text;
    const char* end = text + size;
    if (previous_was_cr && read != end && *read == '\n') ++read;
    previous_was_cr = false;
    char* write = text;
    while (read != end) {
        const char* cr = static_cast<const char*>(std::memchr(read, '\r', end - read));
        const char* stop = cr != nullptr ? cr : end;
        if (write != read) std::memmove(write, read, stop - read);
        write += stop - read;
        if (cr == nullptr) break;
        *write++ = '\n';
        read = cr + 1;
        if (read == end) {
            previous_was_cr = true;
        } else if (*read == '\n') {
            ++read;
        }
    }
    return write - text;
}

std::string_view next_lines(ReportReader& reader) {
    for (;;) {
        char* data = data_of(reader);
        std::size_t tail_size = reader.filled - reader.tail_begin;
        if (reader.at_end) {
            // The last line of a report without a final line end.
            reader.tail_begin = reader.filled;
            return std::string_view(data + reader.filled - tail_size, tail_size);
        }
        if (reader.tail_begin != 0) std::memmove(data, data + reader.tail_begin, tail_size);
        reader.tail_begin = 0;
        reader.filled = tail_size;
        if (reader.filled == reader.capacity) {
            // One line fills the whole buffer: make room for more of it.
            allocate(reader, reader.capacity * 2);
            data = data_of(reader);
        }

        std::size_t wanted = reader.capacity - reader.filled;
        errno = 0;
        std::size_t got = std::fread(data + reader.filled, 1, wanted, reader.blast_fp);
        if (got < wanted) {
            if (std::ferror(reader.blast_fp)) raise_io_failure("read report", reader.path, errno);
            reader.at_end = true;
        }
        char* fresh = data + reader.filled;
        got = normalise_line_ends(fresh, got, reader.previous_was_cr);
        reader.filled += got;
        std::memset(data + reader.filled, 0, text_padding);

        // Only the fresh bytes are searched, so a long line costs linear time.
        const char* line_end = last_line_end(fresh, got);
        if (line_end != nullptr) {
            reader.tail_begin = line_end + 1 - data;
            return std::string_view(data, reader.tail_begin);
        }
    }
}

void close_report(ReportReader& reader) {
    std::FILE* stream = reader.blast_fp;
    reader.blast_fp = nullptr;
    errno = 0;
    if (std::fclose(stream) != 0) raise_io_failure("close report", reader.path, errno);
}

}  // namespace hittab
