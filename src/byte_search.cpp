#include "byte_search.hpp"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HITTAB_HAVE_AVX2 1
#include <immintrin.h>
#else
#define HITTAB_HAVE_AVX2 0
#endif

namespace hittab {

namespace {

// The second byte is looked at only when it lies inside the text.
bool is_candidate_at(const char* line_start, const char* end) {
    char first = line_start[0];
    if (first == '>') return true;
    if (first != ' ' || line_start + 1 >= end) return false;
    char second = line_start[1];
    return second == 'S' || second == 'I';
}

std::string_view text_between(const char* begin, const char* end) {
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// Eight bytes from `p` as a little-endian word.
std::uint64_t load_word(const char* p) {
    unsigned char bytes[8];
    std::memcpy(bytes, p, 8);
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = word << 8 | bytes[i];
    return word;
}

// Bit i is set when byte i of the word is whitespace, that is, in 0x09 to
// 0x0D or in 0x1C to 0x20.
std::uint64_t whitespace_bits8(std::uint64_t word) {
    constexpr std::uint64_t every_byte = 0x0101010101010101ull;
    constexpr std::uint64_t high_bits = 0x8080808080808080ull;
    // Each byte becomes 0x80 + its low seven bits, so that subtracting a
    // small constant from every byte never borrows from the next one.
    std::uint64_t biased = (word & ~high_bits) | high_bits;
    auto at_least = [biased](std::uint64_t n) { return (biased - n * every_byte) & high_bits; };
    std::uint64_t in_ranges = (at_least(0x09) & ~at_least(0x0E)) | (at_least(0x1C) & ~at_least(0x21));
    std::uint64_t whitespace = in_ranges & ~word;  // bytes from 0x80 up are never whitespace
    return ((whitespace >> 7) * 0x0102040810204080ull) >> 56;  // gathers the eight flags into a byte
}

}  // namespace

std::uint64_t whitespace_bits_portable(const char* p) {
    std::uint64_t bits = 0;
    for (unsigned at = 0; at < 64; at += 8) bits |= whitespace_bits8(load_word(p + at)) << at;
    return bits;
}

std::size_t find_candidate_lines_portable(const char*& position, const char* end, std::uint64_t& line_number,
                                          CandidateLine* lines, std::size_t capacity) {
    std::size_t count = 0;
    const char* p = position;
    std::uint64_t number = line_number;
    while (p < end && count < capacity) {
        const char* line_end = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* next = line_end != nullptr ? line_end + 1 : end;
        if (is_candidate_at(p, end)) lines[count++] = {text_between(p, next), number};
        if (line_end != nullptr) ++number;
        p = next;
    }
    position = p;
    line_number = number;
    return count;
}

#if HITTAB_HAVE_AVX2

namespace {

const bool use_avx2 = avx2_available();

// Bit i set where byte i of the 64 bytes in `low` and `high` equals `byte`.
__attribute__((target("avx2"))) std::uint64_t bits_equal(__m256i low, __m256i high, char byte) {
    __m256i wanted = _mm256_set1_epi8(byte);
    auto low_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
    auto high_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
    return std::uint64_t{high_bits} << 32 | low_bits;
}

// The bits at `position` and above; none when position is 64 or more.
std::uint64_t bits_from(std::size_t position) { return position >= 64 ? 0 : ~std::uint64_t{0} << position; }

unsigned lowest_bit(std::uint64_t bits) { return static_cast<unsigned>(__builtin_ctzll(bits)); }

}  // namespace

bool avx2_available() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"); }

namespace {

// Byte-wise flags for the 32 bytes: in 0x09 to 0x0D or in 0x1C to 0x20.
__attribute__((target("avx2"))) std::uint32_t whitespace_bits32(__m256i bytes) {
    __m256i from_tab = _mm256_sub_epi8(bytes, _mm256_set1_epi8(0x09));
    __m256i from_separators = _mm256_sub_epi8(bytes, _mm256_set1_epi8(0x1C));
    // Unsigned "x <= n" as "min(x, n) == x".
    __m256i in_low = _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8(0x0D - 0x09)), from_tab);
    __m256i in_high =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_separators, _mm256_set1_epi8(0x20 - 0x1C)), from_separators);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(in_low, in_high)));
}

}  // namespace

__attribute__((target("avx2"))) std::uint64_t whitespace_bits_avx2(const char* p) {
    std::uint32_t low = whitespace_bits32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    std::uint32_t high = whitespace_bits32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
    return std::uint64_t{high} << 32 | low;
}

// Works on aligned 64-byte windows: one pass finds every LF, '>' and ' '.
// A line start is the bit after an LF. Lines that start with two spaces
// (alignment match lines, statistics) are ruled out with the same masks, so
// the few lines left need only their second byte looked at. A line found
// near the end of a window is completed by the first LF of a later one.
__attribute__((target("avx2,popcnt"))) std::size_t find_candidate_lines_avx2(const char*& position,
                                                                           const char* end,
                                                                           std::uint64_t& line_number,
                                                                           CandidateLine* lines,
                                                                           std::size_t capacity) {
    const char* start = position;
    if (start >= end || capacity == 0) return 0;
    std::size_t count = 0;
    const char* open_line = nullptr;  // a candidate whose LF is still ahead
    std::uint64_t open_number = 0;
    std::uint64_t number = line_number;  // the number of the line holding the window's first byte of ours
    auto first = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(start) & 63);
    const char* window = start - first;
    std::uint64_t ours = bits_from(first);  // bytes before `position` belong to no line of ours
    std::uint64_t carry = std::uint64_t{1} << first;  // `position` itself starts a line
    for (;;) {
        __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i*>(window));
        __m256i high = _mm256_load_si256(reinterpret_cast<const __m256i*>(window + 32));
        std::uint64_t line_ends = bits_equal(low, high, '\n');
        std::uint64_t spaces = bits_equal(low, high, ' ');
        std::uint64_t starts = (line_ends << 1 | carry) & ours;
        carry = line_ends >> 63;
        line_ends &= ours;
        auto remaining = static_cast<std::size_t>(end - window);
        if (remaining < 64) {
            std::uint64_t inside = ~bits_from(remaining);
            line_ends &= inside;
            starts &= inside;
        }

        if (open_line != nullptr && line_ends != 0) {
            const char* next = window + lowest_bit(line_ends) + 1;
            lines[count++] = {text_between(open_line, next), open_number};
            open_line = nullptr;
            if (count == capacity) {
                position = next;
                line_number = open_number + 1;
                return count;
            }
        }
        // A space followed by a space cannot start a line that matters; the
        // byte after bit 63 is in the next window, so that line stays in.
        std::uint64_t lone_spaces = spaces & ~(spaces >> 1 & ~(std::uint64_t{1} << 63));
        std::uint64_t candidates = starts & (bits_equal(low, high, '>') | lone_spaces);
        for (; candidates != 0; candidates &= candidates - 1) {
            unsigned offset = lowest_bit(candidates);
            const char* line_start = window + offset;
            if (!is_candidate_at(line_start, end)) continue;
            std::uint64_t line_start_number =
                number + static_cast<unsigned>(__builtin_popcountll(line_ends & ~bits_from(offset)));
            std::uint64_t own_end = line_ends & bits_from(offset);
            if (own_end == 0) {
                open_line = line_start;
                open_number = line_start_number;
                break;  // nothing starts after a line that runs past this window
            }
            const char* next = window + lowest_bit(own_end) + 1;
            lines[count++] = {text_between(line_start, next), line_start_number};
            if (count == capacity) {
                position = next;
                line_number = line_start_number + 1;
                return count;
            }
        }
        number += static_cast<unsigned>(__builtin_popcountll(line_ends));
        if (remaining <= 64) break;
        window += 64;
        ours = ~std::uint64_t{0};
    }
    if (open_line != nullptr) lines[count++] = {text_between(open_line, end), open_number};
    position = end;
    line_number = number;
    return count;
}

#else

bool avx2_available() { return false; }

std::uint64_t whitespace_bits_avx2(const char* p) { return whitespace_bits_portable(p); }

std::size_t find_candidate_lines_avx2(const char*& position, const char* end, std::uint64_t& line_number,
                                      CandidateLine* lines, std::size_t capacity) {
    return find_candidate_lines_portable(position, end, line_number, lines, capacity);
}

#endif

std::uint64_t whitespace_bits(const char* p) {
#if HITTAB_HAVE_AVX2
    if (use_avx2) return whitespace_bits_avx2(p);
#endif
    return whitespace_bits_portable(p);
}

std::size_t find_candidate_lines(const char*& position, const char* end, std::uint64_t& line_number,
                                 CandidateLine* lines, std::size_t capacity) {
#if HITTAB_HAVE_AVX2
    if (use_avx2) return find_candidate_lines_avx2(position, end, line_number, lines, capacity);
#endif
    return find_candidate_lines_portable(position, end, line_number, lines, capacity);
}

}  // namespace hittab
