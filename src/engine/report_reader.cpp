#include "report_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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
    : path_(std::move(path)), blast_fp_(std::move(blast_fp)) {
    int descriptor = fileno(blast_fp_.get());
    if (descriptor < 0) throw io_failure("read report", path_, EBADF);
    read_ahead_ = std::make_unique<ReadAhead>(descriptor, path_, block_size);
}

ReportReader open_report(const std::string& path, std::size_t block_size) {
    return ReportReader(open_for_reading(path), path, block_size);
}

PaddedView ReportReader::next_lines() {
    if (long_line_handed_out_) {
        long_line_size_ = 0;
        long_line_handed_out_ = false;
    }
    for (;;) {
        if (at_end_) {
            // The last line of a report without a final line end.
            if (long_line_size_ != 0) {
                long_line_handed_out_ = true;
                return long_line_.view(0, long_line_size_);
            }
            PaddedView rest = held_.buffer != nullptr ? held_.buffer->view(pending_begin_ - held_.buffer->data(),
                                                                           pending_end_ - pending_begin_)
                                                      : PaddedView();
            pending_begin_ = pending_end_;
            return rest;
        }
        // A failure comes after the whole lines read before it, and stays:
        // the unfinished line before it is lost with the rest.
        if (failure_) std::rethrow_exception(failure_);

        Block block = read_ahead_->take();
        // The unfinished line goes just before the new block, in its room,
        // so that it and the block's first lines are one text.
        std::size_t pending = pending_end_ - pending_begin_;
        const char* start = nullptr;
        if (long_line_size_ == 0 && pending <= read_ahead_->room()) {
            start = block.data - pending;
            if (pending != 0) std::memcpy(block.data - pending, pending_begin_, pending);
        } else {
            gather_long_line(pending_begin_, pending);
        }
        if (held_.buffer != nullptr) read_ahead_->release();
        held_ = block;
        at_end_ = block.last;
        failure_ = block.failure;

        const char* block_end = block.data + block.size;
        // Only the fresh bytes are searched, so a long line costs linear time.
        const char* line_end = last_line_end(block.data, block.size);
        if (line_end == nullptr) {
            if (start != nullptr) {
                pending_begin_ = start;
            } else {
                gather_long_line(block.data, block.size);
                pending_begin_ = block_end;
            }
            pending_end_ = block_end;
            continue;
        }
        pending_begin_ = line_end + 1;
        pending_end_ = block_end;
        if (start != nullptr) return block.buffer->view(start - block.buffer->data(), line_end + 1 - start);
        gather_long_line(block.data, line_end + 1 - block.data);
        long_line_handed_out_ = true;
        return long_line_.view(0, long_line_size_);
    }
}

void ReportReader::gather_long_line(const char* text, std::size_t size) {
    if (long_line_size_ + size > long_line_.capacity()) {
        long_line_.grow(std::max(long_line_.capacity() * 2, long_line_size_ + size));
    }
    if (size != 0) std::memcpy(long_line_.data() + long_line_size_, text, size);
    long_line_size_ += size;
    // Bytes past the text are padding to the kernels: keep them defined.
    std::memset(long_line_.data() + long_line_size_, 0, text_padding);
}

void ReportReader::raise_damage_in_rest() {
    if (read_ahead_ == nullptr || read_ahead_->form() == StreamForm::plain) return;
    if (failure_) std::rethrow_exception(failure_);
    if (at_end_) return;
    at_end_ = true;
    long_line_size_ = 0;
    pending_begin_ = pending_end_ = nullptr;
    if (held_.buffer != nullptr) read_ahead_->release();
    held_ = Block();
    // Block by block, with no line gathered: only the damage matters now.
    for (;;) {
        Block block = read_ahead_->take();
        read_ahead_->release();
        if (block.failure) std::rethrow_exception(block.failure);
        if (block.last) return;
    }
}

void ReportReader::close() {
    read_ahead_.reset();
    close_stream(std::move(blast_fp_), "close report", path_);
}

}  // namespace hittab
