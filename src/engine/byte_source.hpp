// The bytes of a report as it was written: read from a descriptor and, when
// the stream is compressed, decompressed on the way. The form is recognised
// by the stream's first bytes, never by the file's name: gzip (one or more
// members, BGZF among them) by 1f 8b, zstd (one or more frames) by its frame
// or skippable-frame magic, bzip2 (one or more streams, as bzip2 and pbzip2
// write) by "BZh" and a block size, xz (one or more streams) by fd 37 7a 58
// 5a 00; anything else is passed through as it is, unless its first bytes
// show it to be something other than a text report (an archive, XML).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace hittab {

enum class StreamForm { plain, gzip, zstd, bzip2, xz };

// The first bytes that decide a stream's form, and what it is if not a report.
inline constexpr std::size_t recognition_size = 20;

// The form announced by the first bytes of a stream; `size` may be short,
// in which case only a form whose magic fits can be recognised.
StreamForm recognise_form(const unsigned char* first_bytes, std::size_t size);

// What the first bytes of a stream (or of its decoded text) show it to be
// when that is recognisably not a text report ("a zip archive", "an XML
// document", ...); null for anything else.
const char* not_a_text_report(const unsigned char* first_bytes, std::size_t size);

class ByteSource {
public:
    // Reads `descriptor` (not owned), named `path` in failure reports;
    // compressed bytes are read `input_size` at a time.
    ByteSource(int descriptor, std::string path, std::size_t input_size = 128 * 1024);
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Fills [into, into + capacity) with the next bytes of the report and
    // returns how many; fewer than `capacity` only at the end of the report
    // or just before a failure, which the next call throws. Damaged
    // compressed data is an I/O failure naming the report and the damage.
    std::size_t read(char* into, std::size_t capacity);

    StreamForm form() const { return form_; }

    // Asked from another thread: a read waiting on a pipe or terminal returns
    // at once, and every later read returns 0.
    void stop();

private:
    struct Gzip;
    struct Zstd;
    struct Bzip2;
    struct Xz;

    std::size_t read_raw(unsigned char* into, std::size_t capacity);
    bool refill_input();
    bool has_at_least(std::size_t count);
    void recognise();
    void read_plain(unsigned char* into, std::size_t capacity, std::size_t& produced);
    void read_gzip(unsigned char* into, std::size_t capacity, std::size_t& produced);
    void read_zstd(unsigned char* into, std::size_t capacity, std::size_t& produced);
    void read_bzip2(unsigned char* into, std::size_t capacity, std::size_t& produced);
    void read_xz(unsigned char* into, std::size_t capacity, std::size_t& produced);
    void check_decoded_start(const unsigned char* decoded, std::size_t size);
    bool read_gzip_header();
    void check_padding_after_gzip();
    void finish_gzip();

    int descriptor_;
    std::string path_;
    std::atomic<bool> stopped_{false};
    bool waits_ = false;      // a pipe or terminal: reads may block, so they wait on poll
    int wake_[2] = {-1, -1};  // stop() writes here to end such a wait
    bool recognised_ = false;
    StreamForm form_ = StreamForm::plain;
    bool raw_at_end_ = false;
    std::size_t input_size_;
    std::unique_ptr<unsigned char[]> input_;
    std::size_t input_begin_ = 0, input_end_ = 0;  // compressed bytes read, not yet decoded
    std::unique_ptr<Gzip> gzip_;
    std::unique_ptr<Zstd> zstd_;
    std::unique_ptr<Bzip2> bzip2_;
    std::unique_ptr<Xz> xz_;
    bool decoded_start_checked_ = false;
    bool finished_ = false;
    std::exception_ptr deferred_;  // a failure found after some bytes were already handed out
};

}  // namespace hittab
