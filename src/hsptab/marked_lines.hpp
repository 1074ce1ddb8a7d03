// Lines with the kernel's masks of their 64-byte windows: the next line
// feed or space, and the dashes of an alignment line, are read from the
// bits rather than from the bytes.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "bits.hpp"
#include "kernel.hpp"

namespace hittab::hsptab {

// Whole lines and their masks, one per window and one zeroed window more,
// so that the bits of the 64 bytes from any offset in the text can be read.
struct MarkedLines {
    const char* begin;
    const AlignmentMasks* masks;
    std::size_t windows;  // the text's; masks[windows] is the zeroed one
};

// The bits of `mask` for the 64 bytes from the one at offset `at`: bit i
// stands for byte at + i. The next window's bits come in above, shifted in
// two steps so that a shift of 0 needs no branch.
template <std::uint64_t AlignmentMasks::*mask>
inline std::uint64_t marks_from(const MarkedLines& marked, std::size_t at) {
    std::size_t window = at / 64;
    assert(window < marked.windows);  // so that masks[window + 1] exists
    unsigned shift = at % 64;
    return marked.masks[window].*mask >> shift | (marked.masks[window + 1].*mask << 1) << (63 - shift);
}

// The first byte in [from, limit) whose bit `mask` has, or `limit`.
template <std::uint64_t AlignmentMasks::*mask>
inline const char* find_marked(const MarkedLines& marked, const char* from, const char* limit) {
    if (from >= limit) return limit;
    auto at = static_cast<std::size_t>(from - marked.begin);
    auto stop = static_cast<std::size_t>(limit - marked.begin);
    std::size_t window = at / 64;
    assert(window < marked.windows);
    std::uint64_t bits = marked.masks[window].*mask >> (at % 64);
    while (bits == 0) {
        at = ++window * 64;
        if (at >= stop) return limit;
        bits = marked.masks[window].*mask;
    }
    std::size_t found = at + lowest_bit(bits);
    return found < stop ? marked.begin + found : limit;
}

// The first space or line feed in [from, limit), or `limit`.
inline const char* find_space_or_line_end(const MarkedLines& marked, const char* from, const char* limit) {
    for (; from < limit; from += 64) {
        auto at = static_cast<std::size_t>(from - marked.begin);
        std::uint64_t stops =
            marks_from<&AlignmentMasks::spaces>(marked, at) | marks_from<&AlignmentMasks::line_feeds>(marked, at);
        if (stops != 0) return std::min(from + lowest_bit(stops), limit);
    }
    return limit;
}

// The line feeds of marked lines, taken one after the other from their
// masks: most are found without a loop, as an alignment's lines are short.
class LineFeeds {
public:
    static constexpr std::size_t none = ~std::size_t{0};

    // From offset `at` of the lines, which have `size` bytes.
    LineFeeds(const MarkedLines& marked, std::size_t at, std::size_t size)
        : masks_(marked.masks),
          window_(at / 64),
          windows_((size + 63) / 64),
          pending_(masks_[window_].line_feeds & bits_from(at % 64)) {
        assert(at <= size && windows_ <= marked.windows);
    }

    // The next line feed's offset, or `none`.
    std::size_t next() {
        while (pending_ == 0) {
            if (++window_ >= windows_) return none;
            pending_ = masks_[window_].line_feeds;
        }
        std::size_t found = window_ * 64 + lowest_bit(pending_);
        pending_ &= pending_ - 1;
        return found;
    }

private:
    const AlignmentMasks* masks_;
    std::size_t window_;
    std::size_t windows_;
    std::uint64_t pending_;  // the line feeds of window_ not yet taken
};

}  // namespace hittab::hsptab
