// The portable kernel: plain 64-bit words (SWAR), for every processor.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "bits.hpp"
#include "kernel.hpp"

namespace hittab {

namespace {

constexpr std::uint64_t every_byte = 0x0101010101010101ull;
constexpr std::uint64_t high_bits = 0x8080808080808080ull;
constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Full;

// Gathers the high bit of each byte into bits 0 to 7.
std::uint64_t gather_high_bits(std::uint64_t flags) { return ((flags >> 7) * 0x0102040810204080ull) >> 56; }

// The high bit of each byte in 0x09 to 0x0D or in 0x1C to 0x20.
std::uint64_t whitespace_bytes(std::uint64_t word) {
    // Each byte becomes 0x80 + its low seven bits, so that subtracting a
    // small constant from every byte never borrows from the next one.
    std::uint64_t biased = (word & low_bits) | high_bits;
    auto at_least = [biased](std::uint64_t n) { return (biased - n * every_byte) & high_bits; };
    std::uint64_t in_ranges = (at_least(0x09) & ~at_least(0x0E)) | (at_least(0x1C) & ~at_least(0x21));
    return in_ranges & ~word;  // bytes from 0x80 up are never whitespace
}

struct Window {
    explicit Window(const char* p) {
        for (int i = 0; i < 8; ++i) words[i] = load_eight(p + 8 * i);
    }

    std::uint64_t equal(char byte) const {
        std::uint64_t pattern = every_byte * static_cast<unsigned char>(byte);
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= gather_high_bits(zero_bytes(words[i] ^ pattern)) << (8 * i);
        return bits;
    }

    std::uint64_t whitespace() const {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= gather_high_bits(whitespace_bytes(words[i])) << (8 * i);
        return bits;
    }

    std::uint64_t words[8];
};

#include "window_algorithms.inl"

}  // namespace

extern const Kernel portable_kernel = make_kernel("portable");

}  // namespace hittab
