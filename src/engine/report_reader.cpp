#include "report_reader.hpp"

#include <cerrno>
#include <cstring>

#include "failure.hpp"

namespace hittab {

namespace {

const char* last_line_end(const char* text, std::size_t size) {
    for (const char* p = text + size; p != text;) {
        if (*--p == '\n') return p;
    }
    return nullptr;
}

}  // namespace

ReportReader::ReportReader(FileHandle blast_fp, std::string path, std::size_t block_size)
    : path_(std::move(path)), blast_fp_(std::move(blast_fp)), buffer_(block_size) {
    // Blocks are read straight into our own buffer.
    std::setvbuf(blast_fp_.get(), nullptr, _IONBF, 0);
}

ReportReader open_report(const std::string& path, std::size_t block_size) {
    return ReportReader(open_for_reading(path), path, block_size);
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

PaddedView ReportReader::next_lines() {
    for (;;) {
        char* data = buffer_.data();
        std::size_t tail_size = filled_ - tail_begin_;
        if (at_end_) {
            // The last line of a report without a final line end.
            tail_begin_ = filled_;
            return buffer_.view(filled_ - tail_size, tail_size);
        }
        if (tail_begin_ != 0) std::memmove(data, data + tail_begin_, tail_size);
        tail_begin_ = 0;
        filled_ = tail_size;
        if (filled_ == buffer_.capacity()) {
            // One line fills the whole buffer: make room for more of it.
            buffer_.grow(buffer_.capacity() * 2);
            data = buffer_.data();
        }

        std::size_t wanted = buffer_.capacity() - filled_;
        errno = 0;
        std::size_t got = std::fread(data + filled_, 1, wanted, blast_fp_.get());
        if (got < wanted) {
            if (std::ferror(blast_fp_.get())) throw io_failure("read report", path_, errno);
            at_end_ = true;
        }
        char* fresh = data + filled_;
        got = normalise_line_ends(fresh, got, previous_was_cr_);
        filled_ += got;
        // Bytes past the text are padding to the kernels: keep them defined.
        std::memset(data + filled_, 0, text_padding);

        // Only the fresh bytes are searched, so a long line costs linear time.
        const char* line_end = last_line_end(fresh, got);
        if (line_end != nullptr) {
            tail_begin_ = line_end + 1 - data;
            return buffer_.view(0, tail_begin_);
        }
    }
}

void ReportReader::close() { close_stream(std::move(blast_fp_), "close report", path_); }

}  // namespace hittab
