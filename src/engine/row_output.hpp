// Row output: bytes gathered in a large buffer and handed to the stream in
// few, large writes. Every refused write is a failure; rows still pending
// when a failure ends the conversion are written on the way out, and if even that
// is refused, the caller learns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "file.hpp"

namespace hittab {

// Rows are handed to the stream in writes of up to this size.
inline constexpr std::size_t row_buffer_size = 256 * 1024;

class RowOutput {
public:
    // Writes to `output_fp`, named `path` in failure reports, gathering
    // up to `buffer_size` bytes of rows before each write.
    RowOutput(FileHandle output_fp, std::string path, std::size_t buffer_size = row_buffer_size);
    RowOutput(RowOutput&&) = default;
    // Leaving the scope without close() (a failure is passing): pending
    // rows are still written, errors ignored; see close_after_failure.
    ~RowOutput();

    // Room for `size` more bytes at the end of the buffer, making it by
    // writing what is pending; null when `size` exceeds the whole buffer.
    // The bytes count once `commit(size)` is called.
    char* room(std::size_t size) {
        if (size > buffer_size_ - pending_size_) write_pending();
        return size <= buffer_size_ ? pending_.get() + pending_size_ : nullptr;
    }
    void commit(std::size_t size) { pending_size_ += size; }

    // `bytes` through the buffer, or straight to the stream when larger.
    void write(std::string_view bytes);

    // Hands what is pending to the stream; a refusal is an I/O failure.
    void flush() { write_pending(); }

    // Writes what is pending, flushes and closes; any refusal is an I/O failure.
    void close();

    // The same, after another failure has ended the conversion: returns empty text
    // when every row reached the file, else the note for the failure report.
    // A refused write that was itself the failure is not noted twice.
    std::string close_after_failure() noexcept;

    const std::string& path() const { return path_; }

private:
    void write_pending();
    void write_straight(const char* bytes, std::size_t size);

    std::string path_;
    FileHandle output_fp_;
    std::size_t buffer_size_;
    std::unique_ptr<char[]> pending_;  // buffer_size_ bytes, of which pending_size_ are rows
    std::size_t pending_size_ = 0;
    bool write_failed_ = false;  // a refused write has been raised
};

// Where rows written ahead of their turn gather in memory: at most `most`
// bytes of them. Their output gathers only a few rows before it hands them
// on, so that a thread's rows are held about once.
struct RowSink {
    std::string bytes;
    std::size_t most = SIZE_MAX;
};

// A row output, named after the table `path`, that gathers its rows in
// `sink`, which must outlive it. A write past the sink's `most` bytes, or
// one that finds no memory, is refused: a failure to write the table.
RowOutput gathering_rows(RowSink& sink, std::string path);

}  // namespace hittab
