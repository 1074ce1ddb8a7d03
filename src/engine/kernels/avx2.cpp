// The AVX2 kernel: a window is two 32-byte registers. Compiled for AVX2 only
// inside the region below; it runs only where the processor has AVX2.
#include "instruction_sets.hpp"

#if HITTAB_BUILD_AVX2

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bits.hpp"
#include "kernel.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,popcnt")
#endif

namespace hittab {

namespace {

// Bit i set where byte i of the 32 bytes is in 0x09 to 0x0D or in 0x1C to 0x20.
std::uint32_t whitespace_bits32(__m256i bytes) {
    __m256i from_tab = _mm256_sub_epi8(bytes, _mm256_set1_epi8(0x09));
    __m256i from_separators = _mm256_sub_epi8(bytes, _mm256_set1_epi8(0x1C));
    // Unsigned "x <= n" as "min(x, n) == x".
    __m256i in_low = _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8(0x0D - 0x09)), from_tab);
    __m256i in_high =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_separators, _mm256_set1_epi8(0x20 - 0x1C)), from_separators);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(in_low, in_high)));
}

std::uint32_t equal_bits32(__m256i bytes, char byte) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(byte))));
}

struct Window {
    explicit Window(const char* p)
        : low(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))),
          high(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32))) {}

    std::uint64_t equal(char byte) const {
        return std::uint64_t{equal_bits32(high, byte)} << 32 | equal_bits32(low, byte);
    }

    std::uint64_t whitespace() const { return std::uint64_t{whitespace_bits32(high)} << 32 | whitespace_bits32(low); }

    __m256i low, high;
};

#include "window_algorithms.inl"

}  // namespace

extern const Kernel avx2_kernel = make_kernel("avx2");

}  // namespace hittab

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
