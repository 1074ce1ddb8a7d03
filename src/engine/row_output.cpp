#include "row_output.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "failure.hpp"

namespace hittab {

RowOutput::RowOutput(FileHandle output_fp, std::string path, std::size_t buffer_size)
    : path_(std::move(path)),
      output_fp_(std::move(output_fp)),
      buffer_size_(buffer_size),
      pending_(new char[buffer_size]) {
    // Rows are already gathered in `pending_`; a second buffer would only copy.
    std::setvbuf(output_fp_.get(), nullptr, _IONBF, 0);
}

RowOutput::~RowOutput() {
    if (output_fp_ != nullptr && pending_size_ != 0) std::fwrite(pending_.get(), 1, pending_size_, output_fp_.get());
}

void RowOutput::write_straight(const char* bytes, std::size_t size) {
    if (size == 0) return;  // an empty value may view no storage at all
    errno = 0;
    if (std::fwrite(bytes, 1, size, output_fp_.get()) != size) {
        write_failed_ = true;
        throw io_failure("write table", path_, errno);
    }
}

void RowOutput::write_pending() {
    std::size_t size = pending_size_;
    pending_size_ = 0;  // written or lost: never written twice
    write_straight(pending_.get(), size);
}

void RowOutput::write(std::string_view bytes) {
    if (char* to = room(bytes.size())) {
        if (!bytes.empty()) std::memcpy(to, bytes.data(), bytes.size());
        commit(bytes.size());
    } else {
        write_straight(bytes.data(), bytes.size());
    }
}

void RowOutput::close() {
    write_pending();
    std::FILE* stream = output_fp_.release();
    errno = 0;
    bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
    int error_number = errno;
    if (std::fclose(stream) != 0 && flushed) {
        flushed = false;
        error_number = errno;
    }
    if (!flushed) {
        write_failed_ = true;
        throw io_failure("write table", path_, error_number);
    }
}

std::string RowOutput::close_after_failure() noexcept {
    if (output_fp_ == nullptr) return std::string();
    if (write_failed_) {
        output_fp_.reset();  // the refusal is the failure being reported
        return std::string();
    }
    try {
        close();
        return std::string();
    } catch (const Failure& failure) {
        return table_not_completed(path_, failure.error_number != 0 ? failure.error_number : EIO);
    } catch (...) {
        return table_not_completed(path_, EIO);
    }
}

namespace {

constexpr std::size_t gathered_row_buffer_size = 16 * 1024;

}  // namespace

RowOutput gathering_rows(RowSink& sink, std::string path) {
    cookie_io_functions_t functions{};
    functions.write = [](void* cookie, const char* data, std::size_t count) -> ssize_t {
        auto& sink = *static_cast<RowSink*>(cookie);
        if (count > sink.most - std::min(sink.most, sink.bytes.size())) {
            errno = EFBIG;
            return -1;
        }
        try {
            sink.bytes.append(data, count);
        } catch (const std::bad_alloc&) {
            errno = ENOMEM;  // no exception may cross the C library
            return -1;
        }
        return static_cast<ssize_t>(count);
    };
    std::FILE* stream = fopencookie(&sink, "w", functions);
    if (stream == nullptr) throw std::bad_alloc();
    return RowOutput(FileHandle(stream), std::move(path), gathered_row_buffer_size);
}

}  // namespace hittab
