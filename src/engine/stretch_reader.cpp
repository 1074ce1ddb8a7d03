#include "stretch_reader.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "byte_source.hpp"
#include "failure.hpp"
#include "part_size.hpp"
#include "read_ahead.hpp"

namespace hittab {

namespace {

// Reading past a stretch's end, for its last line, starts with this many
// bytes, and doubles for a long line.
constexpr std::size_t first_extension = 4 * 1024;
// The most one read asks for: the bytes are still in cache when they are
// searched for CR right after. A part, the byte before it and the first
// bytes past it fit in one read.
constexpr std::size_t largest_read = part_size + 2 * first_extension;
constexpr std::uint64_t no_limit = ~std::uint64_t{0};

}  // namespace

bool reads_in_stretches(int descriptor, std::uint64_t smallest) {
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) < smallest) return false;
    // Anything but plain text goes through the byte source, which decodes it or names what it is.
    unsigned char first_bytes[recognition_size];
    ssize_t got = pread(descriptor, first_bytes, sizeof first_bytes, 0);
    if (got <= 0) return false;
    auto size = static_cast<std::size_t>(got);
    return recognise_form(first_bytes, size) == StreamForm::plain && not_a_text_report(first_bytes, size) == nullptr;
}

std::uint64_t report_size(int descriptor, const std::string& path) {
    struct stat status;
    if (fstat(descriptor, &status) != 0) throw io_failure("read report", path, errno);
    return status.st_size < 0 ? 0 : static_cast<std::uint64_t>(status.st_size);
}

StretchReader::StretchReader(int descriptor, std::string path, std::size_t stretch_size, std::uint64_t size)
    : descriptor_(descriptor),
      path_(std::move(path)),
      stretch_size_(std::max<std::size_t>(stretch_size, 1)),
      size_(size),
      buffer_(stretch_size_ + 1 + first_extension) {}

bool StretchReader::load(std::uint64_t position, std::size_t at_least) {
    while (first_ + loaded_ <= position) {
        if (at_end_ || failure_) return false;
        auto wanted = std::max(static_cast<std::size_t>(position + 1 - (first_ + loaded_)), at_least);
        if (loaded_ + wanted > buffer_.capacity()) buffer_.grow(std::max(buffer_.capacity() * 2, loaded_ + wanted));
        char* into = buffer_.data() + loaded_;
        std::uint64_t from = first_ + loaded_;
        // No read goes past the size the file had as reading began, but for
        // one byte there, which must not be: the other thread, reading the
        // same file, saw it end at that size too.
        std::size_t asked = std::min(wanted, largest_read);
        if (from < size_) asked = static_cast<std::size_t>(std::min<std::uint64_t>(asked, size_ - from));
        if (from >= size_) asked = 1;
        ssize_t got = pread(descriptor_, into, asked, static_cast<off_t>(from));
        if (got < 0) {
            if (errno == EINTR) continue;
            failure_ = std::make_exception_ptr(io_failure("read report", path_, errno));
        } else if (got == 0) {
            if (from < size_) {
                failure_ = std::make_exception_ptr(report_cut_short(path_));
            } else {
                at_end_ = true;
            }
        } else if (from >= size_) {
            failure_ = std::make_exception_ptr(report_grew(path_));
        } else {
            has_carriage_return_ = has_carriage_return_ || std::memchr(into, '\r', static_cast<std::size_t>(got));
            loaded_ += static_cast<std::size_t>(got);
        }
    }
    return true;
}

bool StretchReader::load_past_stretch(std::uint64_t position) {
    if (first_ + loaded_ > position) return true;
    bool loaded = load(position, extension_);
    extension_ = std::min(extension_ * 2, largest_read);
    return loaded;
}

std::uint64_t StretchReader::line_start_from(std::uint64_t position, std::uint64_t limit) {
    if (position == 0) return 0;
    auto byte_at = [&](std::uint64_t at) { return buffer_.data()[at - first_]; };
    if (!load_past_stretch(position - 1)) return first_ + loaded_;
    char before = byte_at(position - 1);
    if (before == '\n') return position;
    // Inside a CR LF, the line starts after the LF.
    if (before == '\r') return load_past_stretch(position) && byte_at(position) == '\n' ? position + 1 : position;
    for (std::uint64_t from = position;; from = first_ + loaded_) {
        if (from >= limit) return limit;
        if (!load_past_stretch(from)) return first_ + loaded_;  // the last line ends with the file
        const char* data = buffer_.data();
        const char* begin = data + (from - first_);
        const char* end = data + std::min<std::uint64_t>(loaded_, limit - first_);
        const auto* line_feed = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
        const char* stop = line_feed != nullptr ? line_feed : end;
        const auto* carriage_return = static_cast<const char*>(std::memchr(begin, '\r', stop - begin));
        if (carriage_return != nullptr) return line_start_from(first_ + (carriage_return - data) + 1, limit);
        if (line_feed != nullptr) return first_ + (line_feed - data) + 1;
    }
}

Stretch StretchReader::read_lines_starting_in(std::uint64_t begin, std::uint64_t end) {
    // The byte before the stretch tells whether its first byte starts a line.
    std::uint64_t first = begin == 0 ? 0 : begin - 1;
    // Ranges read one after another usually meet: the bytes read past the
    // last one's end are kept, not read again. Line ends made LF have
    // changed the bytes of a stretch, which are then read again.
    std::size_t kept = 0;
    if (!failure_ && !has_carriage_return_ && first >= first_ && first < first_ + loaded_) {
        kept = static_cast<std::size_t>(first_ + loaded_ - first);
        std::memmove(buffer_.data(), buffer_.data() + (first - first_), kept);
    } else {
        at_end_ = false;
        has_carriage_return_ = false;
    }
    first_ = first;
    loaded_ = kept;
    failure_ = nullptr;
    extension_ = first_extension;
    // The stretch's last line usually ends within a few bytes of its end.
    load(end - 1 + first_extension, 0);

    // A line that starts before the stretch and runs past it is not read here.
    std::uint64_t start = line_start_from(begin, end);
    std::uint64_t stop = start < end ? line_start_from(end, no_limit) : start;
    Stretch stretch;
    if (failure_) {
        // Only the lines that ended before the failure.
        const char* data = buffer_.data();
        std::uint64_t ended = start;
        for (std::uint64_t at = stop; at > start; --at) {
            char byte = data[at - 1 - first_];
            if (byte == '\n' || byte == '\r') {
                ended = at;
                break;
            }
        }
        stop = ended;
        stretch.failure = failure_;
    }
    stretch.last = failure_ || (at_end_ && first_ + loaded_ <= end);
    stretch.next_line = stop;
    if (stop <= start) return stretch;

    char* text = buffer_.data() + (start - first_);
    auto size = static_cast<std::size_t>(stop - start);
    // Bytes past the text are padding to the kernels: keep them defined.
    // Those read from the file already are, and the next range may keep them.
    std::memset(buffer_.data() + loaded_, 0, text_padding);
    if (has_carriage_return_) {
        bool previous_was_cr = false;
        size = normalise_line_ends(text, size, previous_was_cr);
        // The text is shorter now: the bytes past its new end are what its
        // last bytes were before, never to be read as more of a last line
        // without a line end. The next range reads them again (see above).
        std::memset(text + size, 0, text_padding);
    }
    stretch.lines = buffer_.view(static_cast<std::size_t>(start - first_), size);
    return stretch;
}

}  // namespace hittab
