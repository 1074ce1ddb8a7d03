#include "byte_source.hpp"

#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "failure.hpp"

namespace hittab {

namespace {

constexpr unsigned char gzip_magic[] = {0x1f, 0x8b};
constexpr unsigned char zstd_magic[] = {0x28, 0xb5, 0x2f, 0xfd};
constexpr std::size_t longest_magic = sizeof zstd_magic;

bool is_zstd_skippable_frame(const unsigned char* bytes) {
    // Magic 0x184D2A50 to 0x184D2A5F, little-endian: written before frames by pzstd and others.
    return (bytes[0] & 0xf0) == 0x50 && bytes[1] == 0x2a && bytes[2] == 0x4d && bytes[3] == 0x18;
}

const char* gzip_damage(int isal_result) {
    switch (isal_result) {
        case ISAL_INVALID_WRAPPER: return "gzip header is invalid";
        case ISAL_UNSUPPORTED_METHOD: return "gzip data uses an unknown compression method";
        case ISAL_INCORRECT_CHECKSUM: return "gzip: checksum mismatch";
        default: return "gzip data is corrupt";
    }
}

std::string zstd_damage(std::size_t zstd_result, bool after_a_frame) {
    switch (ZSTD_getErrorCode(zstd_result)) {
        case ZSTD_error_checksum_wrong: return "zstd: checksum mismatch";
        case ZSTD_error_prefix_unknown:
            return after_a_frame ? "zstd: unexpected bytes after the last frame" : "zstd: unknown frame";
        default: return std::string("zstd: ") + ZSTD_getErrorName(zstd_result);
    }
}

}  // namespace

StreamForm recognise_form(const unsigned char* first_bytes, std::size_t size) {
    if (size >= sizeof gzip_magic && std::memcmp(first_bytes, gzip_magic, sizeof gzip_magic) == 0) {
        return StreamForm::gzip;
    }
    if (size >= longest_magic &&
        (std::memcmp(first_bytes, zstd_magic, sizeof zstd_magic) == 0 || is_zstd_skippable_frame(first_bytes))) {
        return StreamForm::zstd;
    }
    return StreamForm::plain;
}

struct ByteSource::Gzip {
    inflate_state state;
    bool in_member = false;
    bool after_a_member = false;
};

struct ByteSource::Zstd {
    Zstd() : context(ZSTD_createDCtx()) {
        if (context == nullptr) throw std::bad_alloc();
    }
    ~Zstd() { ZSTD_freeDCtx(context); }
    Zstd(const Zstd&) = delete;
    Zstd& operator=(const Zstd&) = delete;

    ZSTD_DCtx* context;
    bool in_frame = false;
    bool after_a_frame = false;
};

ByteSource::ByteSource(int descriptor, std::string path, std::size_t input_size)
    : descriptor_(descriptor),
      path_(std::move(path)),
      input_size_(std::max(input_size, longest_magic)),
      input_(new unsigned char[input_size_]) {
    struct stat status;
    waits_ = fstat(descriptor_, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
    if (waits_ && pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw io_failure("read report", path_, errno);
}

ByteSource::~ByteSource() {
    if (wake_[0] >= 0) ::close(wake_[0]);
    if (wake_[1] >= 0) ::close(wake_[1]);
}

void ByteSource::stop() {
    stopped_.store(true);
    if (wake_[1] >= 0) {
        const char wake = 1;
        // The pipe is only a signal: a full pipe already wakes the reader.
        [[maybe_unused]] ssize_t written = ::write(wake_[1], &wake, 1);
    }
}

std::size_t ByteSource::read_raw(unsigned char* into, std::size_t capacity) {
    std::size_t got = 0;
    while (got < capacity && !raw_at_end_) {
        if (stopped_.load()) {
            raw_at_end_ = true;
            break;
        }
        if (waits_) {
            pollfd waiting[2] = {{descriptor_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (poll(waiting, 2, -1) < 0) {
                if (errno == EINTR) continue;
                throw io_failure("read report", path_, errno);
            }
            if (waiting[1].revents != 0) continue;  // stopped
        }
        ssize_t count = ::read(descriptor_, into + got, capacity - got);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw io_failure("read report", path_, errno);
        }
        if (count == 0) raw_at_end_ = true;
        got += static_cast<std::size_t>(count);
    }
    return got;
}

bool ByteSource::refill_input() {
    if (input_begin_ != input_end_) return true;
    input_begin_ = 0;
    input_end_ = read_raw(input_.get(), input_size_);
    return input_end_ != 0;
}

bool ByteSource::has_at_least(std::size_t count) {
    if (input_end_ - input_begin_ >= count) return true;
    std::memmove(input_.get(), input_.get() + input_begin_, input_end_ - input_begin_);
    input_end_ -= input_begin_;
    input_begin_ = 0;
    input_end_ += read_raw(input_.get() + input_end_, input_size_ - input_end_);
    return input_end_ >= count;
}

void ByteSource::recognise() {
    // Enough bytes for the longest magic, unless the report is shorter.
    input_end_ = read_raw(input_.get(), longest_magic);
    form_ = recognise_form(input_.get(), input_end_);
    if (form_ == StreamForm::gzip) gzip_ = std::make_unique<Gzip>();
    if (form_ == StreamForm::zstd) zstd_ = std::make_unique<Zstd>();
    recognised_ = true;
}

std::size_t ByteSource::read(char* into, std::size_t capacity) {
    if (deferred_) std::rethrow_exception(std::exchange(deferred_, nullptr));
    if (!recognised_) recognise();
    auto* bytes = reinterpret_cast<unsigned char*>(into);
    std::size_t produced = 0;
    try {
        switch (form_) {
            case StreamForm::plain: read_plain(bytes, capacity, produced); break;
            case StreamForm::gzip: read_gzip(bytes, capacity, produced); break;
            case StreamForm::zstd: read_zstd(bytes, capacity, produced); break;
        }
    } catch (...) {
        // The bytes decoded before the damage still reach the caller.
        if (produced == 0) throw;
        deferred_ = std::current_exception();
    }
    return produced;
}

void ByteSource::read_plain(unsigned char* into, std::size_t capacity, std::size_t& produced) {
    std::size_t buffered = std::min(capacity, input_end_ - input_begin_);
    std::memcpy(into, input_.get() + input_begin_, buffered);
    input_begin_ += buffered;
    produced = buffered;
    produced += read_raw(into + produced, capacity - produced);
}

void ByteSource::read_gzip(unsigned char* into, std::size_t capacity, std::size_t& produced) {
    inflate_state& state = gzip_->state;
    while (produced < capacity && !finished_) {
        if (!gzip_->in_member) {
            if (!refill_input()) {
                finished_ = true;
                break;
            }
            if (gzip_->after_a_member) {
                if (input_[input_begin_] == 0) {
                    check_padding_after_gzip();
                    break;
                }
                // Another member, or bytes that do not belong to the stream.
                bool whole_magic = has_at_least(sizeof gzip_magic);
                std::size_t magic_bytes = std::min(sizeof gzip_magic, input_end_ - input_begin_);
                if (std::memcmp(input_.get() + input_begin_, gzip_magic, magic_bytes) != 0) {
                    throw damaged_report(path_, "gzip: unexpected bytes after the last member");
                }
                if (!whole_magic) throw damaged_report(path_, "gzip data ends early");
            }
            isal_inflate_init(&state);
            state.crc_flag = ISAL_GZIP;
            gzip_->in_member = true;
        }
        state.next_in = input_.get() + input_begin_;
        state.avail_in = static_cast<std::uint32_t>(input_end_ - input_begin_);
        state.next_out = into + produced;
        state.avail_out = static_cast<std::uint32_t>(capacity - produced);
        int result = isal_inflate(&state);
        std::size_t consumed = state.next_in - (input_.get() + input_begin_);
        std::size_t written = state.next_out - (into + produced);
        input_begin_ += consumed;
        produced += written;
        if (result < 0) {
            bool garbage = result == ISAL_INVALID_WRAPPER && gzip_->after_a_member;
            throw damaged_report(path_, garbage ? "gzip: unexpected bytes after the last member" : gzip_damage(result));
        }
        if (state.block_state == ISAL_BLOCK_FINISH) {
            gzip_->in_member = false;
            gzip_->after_a_member = true;
        } else if (consumed == 0 && written == 0) {
            // Nothing more can be decoded from what was read: read more.
            if (input_begin_ != input_end_) throw damaged_report(path_, "gzip data is corrupt");
            if (!refill_input()) throw damaged_report(path_, "gzip data ends early");
        }
    }
}

void ByteSource::check_padding_after_gzip() {
    // Zeros may pad a gzip file to a block size; nothing else may follow it.
    do {
        const unsigned char* begin = input_.get() + input_begin_;
        const unsigned char* end = input_.get() + input_end_;
        if (std::find_if(begin, end, [](unsigned char byte) { return byte != 0; }) != end) {
            throw damaged_report(path_, "gzip: unexpected bytes after the last member");
        }
        input_begin_ = input_end_;
    } while (refill_input());
    finished_ = true;
}

void ByteSource::read_zstd(unsigned char* into, std::size_t capacity, std::size_t& produced) {
    while (produced < capacity && !finished_) {
        ZSTD_inBuffer input{input_.get() + input_begin_, input_end_ - input_begin_, 0};
        ZSTD_outBuffer output{into + produced, capacity - produced, 0};
        std::size_t result = ZSTD_decompressStream(zstd_->context, &output, &input);
        input_begin_ += input.pos;
        produced += output.pos;
        if (ZSTD_isError(result)) throw damaged_report(path_, zstd_damage(result, zstd_->after_a_frame));
        bool progress = input.pos != 0 || output.pos != 0;
        if (progress) {
            // Without progress the result is only a hint of the bytes wanted next.
            zstd_->in_frame = result != 0;
            if (result == 0) zstd_->after_a_frame = true;
        } else {
            // Nothing more can be decoded from what was read: read more.
            if (input_begin_ != input_end_) throw damaged_report(path_, "zstd data is corrupt");
            if (!refill_input()) {
                if (zstd_->in_frame) throw damaged_report(path_, "zstd data ends early");
                finished_ = true;
            }
        }
    }
}

}  // namespace hittab
