#include "line_finder.hpp"

#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HITTAB_HAVE_AVX2 1
#include <immintrin.h>
#else
#define HITTAB_HAVE_AVX2 0
#endif

namespace hittab {

namespace {

bool is_candidate_at(const char* line_start, const char* end) {
    char first = line_start[0];
    if (first == '>') return true;
    if (first != ' ' || line_start + 1 >= end) return false;
    char second = line_start[1];
    return second == 'S' || second == 'I';
}

#if HITTAB_HAVE_AVX2
const bool use_avx2 = avx2_available();
#endif

}  // namespace

const char* find_candidate_line_portable(const char* line_start, const char* end, std::uint64_t& line_number) {
    const char* p = line_start;
    while (p < end) {
        if (is_candidate_at(p, end)) return p;
        const char* line_end = static_cast<const char*>(std::memchr(p, '\n', end - p));
        if (line_end == nullptr) return end;
        ++line_number;
        p = line_end + 1;
    }
    return end;
}

const char* find_line_end_portable(const char* line_start, const char* end) {
    const void* found = std::memchr(line_start, '\n', static_cast<std::size_t>(end - line_start));
    return found != nullptr ? static_cast<const char*>(found) : end;
}

#if HITTAB_HAVE_AVX2

bool avx2_available() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi");
}

namespace {

// Bit i set where byte i of the 64 bytes at `p` equals `byte`.
__attribute__((target("avx2"))) std::uint64_t bits_equal(__m256i low, __m256i high, char byte) {
    __m256i wanted = _mm256_set1_epi8(byte);
    auto low_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
    auto high_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
    return std::uint64_t{high_bits} << 32 | low_bits;
}

std::uint64_t bits_from(unsigned position) { return position >= 64 ? 0 : ~std::uint64_t{0} << position; }

}  // namespace

// Works on aligned 64-byte windows: one pass finds every LF, '>' and ' '; a
// line start is the bit after an LF, and only the few lines that start with
// a space need their second byte looked at.
__attribute__((target("avx2,popcnt,bmi"))) const char* find_candidate_line_avx2(const char* line_start,
                                                                                const char* end,
                                                                                std::uint64_t& line_number) {
    if (line_start >= end) return end;
    if (is_candidate_at(line_start, end)) return line_start;
    auto address = reinterpret_cast<std::uintptr_t>(line_start);
    const char* window = line_start - (address & 63);
    // In the first window, bytes before `line_start` are not ours, and the
    // line start itself has just been looked at.
    unsigned first = static_cast<unsigned>(address & 63);
    std::uint64_t line_ends_wanted = bits_from(first);
    std::uint64_t starts_wanted = bits_from(first + 1);
    std::uint64_t carry = 0;  // an LF in bit 63 starts a line at bit 0 of the next window
    for (;;) {
        __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i*>(window));
        __m256i high = _mm256_load_si256(reinterpret_cast<const __m256i*>(window + 32));
        std::uint64_t line_ends = bits_equal(low, high, '\n');
        std::uint64_t starts = (line_ends << 1 | carry) & starts_wanted;
        carry = line_ends >> 63;
        std::size_t remaining = static_cast<std::size_t>(end - window);
        if (remaining <= 64) {
            std::uint64_t inside = bits_from(static_cast<unsigned>(remaining)) ^ ~std::uint64_t{0};
            line_ends &= inside;
            starts &= inside;
        }
        line_ends &= line_ends_wanted;
        std::uint64_t titles = starts & bits_equal(low, high, '>');
        std::uint64_t spaced = starts & bits_equal(low, high, ' ');
        for (std::uint64_t candidates = titles | spaced; candidates != 0; candidates &= candidates - 1) {
            unsigned offset = static_cast<unsigned>(__builtin_ctzll(candidates));
            const char* candidate = window + offset;
            if (candidate[0] == '>' || (candidate + 1 < end && (candidate[1] == 'S' || candidate[1] == 'I'))) {
                line_number += static_cast<unsigned>(__builtin_popcountll(line_ends & ~bits_from(offset)));
                return candidate;
            }
        }
        line_number += static_cast<unsigned>(__builtin_popcountll(line_ends));
        if (remaining <= 64) return end;
        window += 64;
        line_ends_wanted = ~std::uint64_t{0};
        starts_wanted = ~std::uint64_t{0};
    }
}

__attribute__((target("avx2,bmi"))) const char* find_line_end_avx2(const char* line_start, const char* end) {
    const __m256i lf = _mm256_set1_epi8('\n');
    for (const char* p = line_start; p < end; p += 32) {
        __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        auto line_ends = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, lf)));
        if (line_ends != 0) {
            const char* found = p + __builtin_ctz(line_ends);
            return found < end ? found : end;
        }
    }
    return end;
}

#else

bool avx2_available() { return false; }

const char* find_candidate_line_avx2(const char* line_start, const char* end, std::uint64_t& line_number) {
    return find_candidate_line_portable(line_start, end, line_number);
}

const char* find_line_end_avx2(const char* line_start, const char* end) {
    return find_line_end_portable(line_start, end);
}

#endif

const char* find_candidate_line(const char* line_start, const char* end, std::uint64_t& line_number) {
#if HITTAB_HAVE_AVX2
    if (use_avx2) return find_candidate_line_avx2(line_start, end, line_number);
#endif
    return find_candidate_line_portable(line_start, end, line_number);
}

const char* find_line_end(const char* line_start, const char* end) {
#if HITTAB_HAVE_AVX2
    if (use_avx2) return find_line_end_avx2(line_start, end);
#endif
    return find_line_end_portable(line_start, end);
}

}  // namespace hittab
