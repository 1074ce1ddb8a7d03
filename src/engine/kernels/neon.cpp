// The NEON kernel for aarch64, where every processor has NEON: a window is
// four 16-byte registers.
#include "instruction_sets.hpp"

#if HITTAB_BUILD_NEON

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bits.hpp"
#include "kernel.hpp"

namespace hittab {

namespace {

// The 64 byte-wise flags (0xFF or 0) of four registers as one mask: each
// flag keeps one bit of its byte's place in a group of eight, and pairwise
// additions fold the groups into bytes.
std::uint64_t to_bits(uint8x16_t m0, uint8x16_t m1, uint8x16_t m2, uint8x16_t m3) {
    const uint8x16_t places = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80,
                               0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80};
    uint8x16_t sum0 = vpaddq_u8(vandq_u8(m0, places), vandq_u8(m1, places));
    uint8x16_t sum1 = vpaddq_u8(vandq_u8(m2, places), vandq_u8(m3, places));
    sum0 = vpaddq_u8(sum0, sum1);
    sum0 = vpaddq_u8(sum0, sum0);
    return vgetq_lane_u64(vreinterpretq_u64_u8(sum0), 0);
}

// 0xFF where the byte is in 0x09 to 0x0D or in 0x1C to 0x20.
uint8x16_t whitespace_flags(uint8x16_t bytes) {
    uint8x16_t in_low = vcleq_u8(vsubq_u8(bytes, vdupq_n_u8(0x09)), vdupq_n_u8(0x0D - 0x09));
    uint8x16_t in_high = vcleq_u8(vsubq_u8(bytes, vdupq_n_u8(0x1C)), vdupq_n_u8(0x20 - 0x1C));
    return vorrq_u8(in_low, in_high);
}

struct Window {
    explicit Window(const char* p) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(p);
        for (int i = 0; i < 4; ++i) chunks[i] = vld1q_u8(bytes + 16 * i);
    }

    std::uint64_t equal(char byte) const {
        uint8x16_t wanted = vdupq_n_u8(static_cast<std::uint8_t>(byte));
        return to_bits(vceqq_u8(chunks[0], wanted), vceqq_u8(chunks[1], wanted), vceqq_u8(chunks[2], wanted),
                       vceqq_u8(chunks[3], wanted));
    }

    std::uint64_t whitespace() const {
        return to_bits(whitespace_flags(chunks[0]), whitespace_flags(chunks[1]), whitespace_flags(chunks[2]),
                       whitespace_flags(chunks[3]));
    }

    uint8x16_t chunks[4];
};

#include "window_algorithms.inl"

}  // namespace

extern const Kernel neon_kernel = make_kernel("neon");

}  // namespace hittab

#endif
