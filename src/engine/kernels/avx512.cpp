// The AVX-512 kernel: a window is one 64-byte register, and each comparison
// gives its 64-bit mask at once. Compiled for AVX-512 (BW) only inside the
// region below; it runs only where the processor has it.
#include "instruction_sets.hpp"

#if HITTAB_BUILD_AVX2

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bits.hpp"
#include "kernel.hpp"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,popcnt")
#endif

namespace hittab {

namespace {

struct Window {
    explicit Window(const char* p) : bytes(_mm512_loadu_si512(p)) {}

    std::uint64_t equal(char byte) const { return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(byte)); }

    // Bytes in 0x09 to 0x0D or in 0x1C to 0x20: "x - low <= width", unsigned.
    std::uint64_t whitespace() const {
        __m512i from_tab = _mm512_sub_epi8(bytes, _mm512_set1_epi8(0x09));
        __m512i from_separators = _mm512_sub_epi8(bytes, _mm512_set1_epi8(0x1C));
        return _mm512_cmple_epu8_mask(from_tab, _mm512_set1_epi8(0x0D - 0x09)) |
               _mm512_cmple_epu8_mask(from_separators, _mm512_set1_epi8(0x20 - 0x1C));
    }

    __m512i bytes;
};

#include "window_algorithms.inl"

}  // namespace

extern const Kernel avx512_kernel = make_kernel("avx512");

}  // namespace hittab

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
