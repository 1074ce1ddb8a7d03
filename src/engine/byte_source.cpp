#include "byte_source.hpp"

#include <bzlib.h>
#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
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
#include "gzip_header.hpp"

namespace hittab {

namespace {

constexpr unsigned char gzip_magic[] = {0x1f, 0x8b};
constexpr unsigned char zstd_magic[] = {0x28, 0xb5, 0x2f, 0xfd};
constexpr unsigned char bzip2_magic[] = {'B', 'Z', 'h'};  // then the block size, '1' to '9'
constexpr unsigned char xz_magic[] = {0xfd, '7', 'z', 'X', 'Z', 0x00};
static_assert(sizeof xz_magic <= recognition_size);

bool starts_with(const unsigned char* bytes, std::size_t size, std::string_view magic) {
    return size >= magic.size() && std::memcmp(bytes, magic.data(), magic.size()) == 0;
}

template <std::size_t n>
bool starts_with(const unsigned char* bytes, std::size_t size, const unsigned char (&magic)[n]) {
    return size >= n && std::memcmp(bytes, magic, n) == 0;
}

bool is_bzip2_stream(const unsigned char* bytes, std::size_t size) {
    return starts_with(bytes, size, bzip2_magic) && size > sizeof bzip2_magic && bytes[3] >= '1' && bytes[3] <= '9';
}

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

const char* bzip2_damage(int bzip2_result) {
    switch (bzip2_result) {
        case BZ_DATA_ERROR_MAGIC: return "bzip2 header is invalid";
        case BZ_MEM_ERROR: throw std::bad_alloc();
        default: return "bzip2 data is corrupt";  // BZ_DATA_ERROR: a block's or the stream's CRC among others
    }
}

const char* xz_damage(lzma_ret xz_result) {
    switch (xz_result) {
        case LZMA_FORMAT_ERROR: return "xz header is invalid";
        case LZMA_OPTIONS_ERROR: return "xz data uses options this reader does not know";
        case LZMA_BUF_ERROR: return "xz data ends early";
        case LZMA_MEM_ERROR: throw std::bad_alloc();
        // LZMA_DATA_ERROR: checksums, and bytes after a stream that are not another stream or padding.
        default: return "xz data is corrupt";
    }
}

}  // namespace

StreamForm recognise_form(const unsigned char* first_bytes, std::size_t size) {
    if (starts_with(first_bytes, size, gzip_magic)) return StreamForm::gzip;
    if (starts_with(first_bytes, size, zstd_magic) || (size >= 4 && is_zstd_skippable_frame(first_bytes))) {
        return StreamForm::zstd;
    }
    if (is_bzip2_stream(first_bytes, size)) return StreamForm::bzip2;
    if (starts_with(first_bytes, size, xz_magic)) return StreamForm::xz;
    return StreamForm::plain;
}

const char* not_a_text_report(const unsigned char* first_bytes, std::size_t size) {
    struct Known {
        std::string_view magic;
        const char* what;
    };
    using namespace std::string_view_literals;
    static constexpr Known known[] = {
        {"PK\x03\x04"sv, "a zip archive"},
        {"PK\x05\x06"sv, "a zip archive"},
        {"7z\xbc\xaf\x27\x1c"sv, "a 7-Zip archive"},
        {"Rar!\x1a\x07"sv, "a RAR archive"},
        {"\x04\x22\x4d\x18"sv, "an lz4 file"},
        {"\x1f\x9d"sv, "a file packed by compress (.Z)"},
        {"LZIP"sv, "an lzip file"},
        {"<?xml"sv, "an XML document"},
        {"\xef\xbb\xbf<?xml"sv, "an XML document"},
        {"Blast4-archive"sv, "a BLAST archive (-outfmt 11)"},
        {"%PDF-"sv, "a PDF document"},
    };
    for (const Known& k : known) {
        if (starts_with(first_bytes, size, k.magic)) return k.what;
    }
    return nullptr;
}

struct ByteSource::Gzip {
    inflate_state state;
    bool in_member = false;
    bool after_a_member = false;
    bool bgzf = false;  // the first member is a BGZF block
    std::uint64_t member_output = 0;
    bool last_member_empty = false;
};

struct ByteSource::Bzip2 {
    Bzip2() { start(); }
    ~Bzip2() { end(); }
    Bzip2(const Bzip2&) = delete;
    Bzip2& operator=(const Bzip2&) = delete;

    void start() {
        stream = bz_stream{};
        int result = BZ2_bzDecompressInit(&stream, 0, 0);
        if (result != BZ_OK) throw std::bad_alloc();
        started = true;
    }
    void end() {
        if (started) BZ2_bzDecompressEnd(&stream);
        started = false;
    }

    bz_stream stream;
    bool started = false;
    bool in_stream = true;  // the first stream begins with the report
};

struct ByteSource::Xz {
    Xz() {
        // Concatenated streams and the padding between them, as xz reads them.
        if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) throw std::bad_alloc();
    }
    ~Xz() { lzma_end(&stream); }
    Xz(const Xz&) = delete;
    Xz& operator=(const Xz&) = delete;

    lzma_stream stream = LZMA_STREAM_INIT;
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
      input_size_(std::max(input_size, recognition_size)),
      input_(new unsigned char[input_size_]) {
    struct stat status;
    // A closed descriptor (`hsptab <&-`) fails here, before the wake pipe below could take its number.
    if (fstat(descriptor_, &status) != 0) throw io_failure("read report", path_, errno);
    waits_ = !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
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
    input_end_ = read_raw(input_.get(), recognition_size);
    recognised_ = true;
    if (const char* what = not_a_text_report(input_.get(), input_end_)) throw not_a_report(path_, what);
    form_ = recognise_form(input_.get(), input_end_);
    switch (form_) {
        case StreamForm::plain: decoded_start_checked_ = true; break;
        case StreamForm::gzip: gzip_ = std::make_unique<Gzip>(); break;
        case StreamForm::zstd: zstd_ = std::make_unique<Zstd>(); break;
        case StreamForm::bzip2: bzip2_ = std::make_unique<Bzip2>(); break;
        case StreamForm::xz: xz_ = std::make_unique<Xz>(); break;
    }
}

void ByteSource::check_decoded_start(const unsigned char* decoded, std::size_t size) {
    // A packed archive or XML document is named, not read as lines. The
    // first read of a report is far longer than any magic.
    decoded_start_checked_ = true;
    if (const char* what = not_a_text_report(decoded, size)) throw not_a_report(path_, what);
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
            case StreamForm::bzip2: read_bzip2(bytes, capacity, produced); break;
            case StreamForm::xz: read_xz(bytes, capacity, produced); break;
        }
    } catch (...) {
        // The bytes decoded before the damage still reach the caller.
        if (produced == 0) throw;
        deferred_ = std::current_exception();
    }
    // Before any decoded byte is handed out, so that none of it is read as lines.
    if (!decoded_start_checked_ && produced != 0) check_decoded_start(bytes, produced);
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
                finish_gzip();
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
            bool bgzf_block = read_gzip_header();
            if (!gzip_->after_a_member) gzip_->bgzf = bgzf_block;
            // The header is read here, its CRC checked as gzip checks it; the
            // inflater reads the deflate data and checks the trailer.
            isal_inflate_init(&state);
            state.crc_flag = ISAL_GZIP_NO_HDR_VER;
            gzip_->in_member = true;
            gzip_->member_output = 0;
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
        gzip_->member_output += written;
        if (result < 0) {
            bool garbage = result == ISAL_INVALID_WRAPPER && gzip_->after_a_member;
            throw damaged_report(path_, garbage ? "gzip: unexpected bytes after the last member" : gzip_damage(result));
        }
        if (state.block_state == ISAL_BLOCK_FINISH) {
            gzip_->in_member = false;
            gzip_->after_a_member = true;
            gzip_->last_member_empty = gzip_->member_output == 0;
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
    finish_gzip();
}

bool ByteSource::read_gzip_header() {
    GzipHeader header;
    while (!header.complete()) {
        if (!refill_input()) throw damaged_report(path_, "gzip data ends early");
        input_begin_ += header.take(input_.get() + input_begin_, input_end_ - input_begin_);
        if (header.damage() != nullptr) throw damaged_report(path_, header.damage());
    }
    return header.is_bgzf_block();
}

void ByteSource::finish_gzip() {
    // bgzip and htslib end every BGZF file with an empty block: a file
    // without it was cut at a block boundary, as a killed bgzip leaves it.
    if (gzip_->bgzf && !gzip_->last_member_empty) {
        throw damaged_report(path_, "BGZF data ends early: its end-of-file block is missing");
    }
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

void ByteSource::read_bzip2(unsigned char* into, std::size_t capacity, std::size_t& produced) {
    bz_stream& stream = bzip2_->stream;
    while (produced < capacity && !finished_) {
        if (!bzip2_->in_stream) {
            // After a stream: the report's end, another stream (pbzip2
            // writes one per block of input), or bytes that do not belong.
            if (!refill_input()) {
                finished_ = true;
                break;
            }
            bool whole_magic = has_at_least(sizeof bzip2_magic + 1);
            if (!is_bzip2_stream(input_.get() + input_begin_, input_end_ - input_begin_)) {
                std::size_t available = std::min(sizeof bzip2_magic, input_end_ - input_begin_);
                bool magic_so_far = std::memcmp(input_.get() + input_begin_, bzip2_magic, available) == 0;
                throw damaged_report(path_, !whole_magic && magic_so_far
                                                ? "bzip2 data ends early"
                                                : "bzip2: unexpected bytes after the last stream");
            }
            bzip2_->end();
            bzip2_->start();
            bzip2_->in_stream = true;
        }
        stream.next_in = reinterpret_cast<char*>(input_.get() + input_begin_);
        stream.avail_in = static_cast<unsigned>(input_end_ - input_begin_);
        stream.next_out = reinterpret_cast<char*>(into + produced);
        stream.avail_out = static_cast<unsigned>(std::min<std::size_t>(capacity - produced, 1u << 30));
        int result = BZ2_bzDecompress(&stream);
        std::size_t consumed = reinterpret_cast<unsigned char*>(stream.next_in) - (input_.get() + input_begin_);
        std::size_t written = reinterpret_cast<unsigned char*>(stream.next_out) - (into + produced);
        input_begin_ += consumed;
        produced += written;
        if (result == BZ_STREAM_END) {
            bzip2_->in_stream = false;
        } else if (result != BZ_OK) {
            throw damaged_report(path_, bzip2_damage(result));
        } else if (consumed == 0 && written == 0) {
            // Nothing more can be decoded from what was read: read more.
            if (input_begin_ != input_end_) throw damaged_report(path_, "bzip2 data is corrupt");
            if (!refill_input()) throw damaged_report(path_, "bzip2 data ends early");
        }
    }
}

void ByteSource::read_xz(unsigned char* into, std::size_t capacity, std::size_t& produced) {
    lzma_stream& stream = xz_->stream;
    while (produced < capacity && !finished_) {
        if (input_begin_ == input_end_ && !raw_at_end_) refill_input();
        bool at_end = input_begin_ == input_end_ && raw_at_end_;
        stream.next_in = input_.get() + input_begin_;
        stream.avail_in = input_end_ - input_begin_;
        stream.next_out = into + produced;
        stream.avail_out = capacity - produced;
        // LZMA_FINISH once the input has ended, so that a stream cut short
        // is told from one still arriving.
        lzma_ret result = lzma_code(&stream, at_end ? LZMA_FINISH : LZMA_RUN);
        input_begin_ = stream.next_in - input_.get();
        produced = stream.next_out - into;
        if (result == LZMA_STREAM_END) {
            finished_ = true;
        } else if (result != LZMA_OK) {
            throw damaged_report(path_, xz_damage(result));
        }
    }
}

}  // namespace hittab
