#include "line_finder.hpp"

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

#if HITTAB_HAVE_AVX2

bool avx2_available() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"); }

__attribute__((target("avx2,popcnt"))) const char* find_candidate_line_avx2(const char* line_start,
                                                                            const char* end,
                                                                            std::uint64_t& line_number) {
    const char* p = line_start;
    if (p >= end) return end;
    if (is_candidate_at(p, end)) return p;
    // From here on a line start is a byte preceded by LF. Bit 0 of the first
    // window may see a byte before `line_start` that is not LF: harmless, as
    // that line is known not to be a candidate.
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i gt = _mm256_set1_epi8('>');
    const __m256i space = _mm256_set1_epi8(' ');
    const __m256i upper_s = _mm256_set1_epi8('S');
    const __m256i upper_i = _mm256_set1_epi8('I');
    while (p < end) {
        __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
        __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        __m256i starts = _mm256_cmpeq_epi8(before, lf);
        __m256i title = _mm256_and_si256(starts, _mm256_cmpeq_epi8(here, gt));
        __m256i spaced = _mm256_and_si256(
            _mm256_and_si256(starts, _mm256_cmpeq_epi8(here, space)),
            _mm256_or_si256(_mm256_cmpeq_epi8(after, upper_s), _mm256_cmpeq_epi8(after, upper_i)));
        auto line_ends = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, lf)));
        auto title_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(title));
        auto spaced_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(spaced));

        std::size_t remaining = static_cast<std::size_t>(end - p);
        if (remaining <= 32) {
            // Last window: keep positions inside [p, end), and for the second
            // byte of a spaced line, positions whose next byte is inside too.
            std::uint32_t inside = remaining == 32 ? ~0u : (1u << remaining) - 1;
            line_ends &= inside;
            title_bits &= inside;
            spaced_bits &= inside >> 1;
        }
        std::uint32_t candidates = title_bits | spaced_bits;
        if (candidates != 0) {
            unsigned offset = static_cast<unsigned>(__builtin_ctz(candidates));
            line_number += static_cast<unsigned>(__builtin_popcount(line_ends & ((1u << offset) - 1)));
            return p + offset;
        }
        line_number += static_cast<unsigned>(__builtin_popcount(line_ends));
        p += 32;
    }
    return end;
}

#else

bool avx2_available() { return false; }

const char* find_candidate_line_avx2(const char* line_start, const char* end, std::uint64_t& line_number) {
    return find_candidate_line_portable(line_start, end, line_number);
}

#endif

const char* find_candidate_line(const char* line_start, const char* end, std::uint64_t& line_number) {
#if HITTAB_HAVE_AVX2
    if (use_avx2) return find_candidate_line_avx2(line_start, end, line_number);
#endif
    return find_candidate_line_portable(line_start, end, line_number);
}

}  // namespace hittab
