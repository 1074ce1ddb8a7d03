// Byte-level helpers: bit masks and eight bytes read as one number (SWAR),
// for the kernels and the readers that work from their masks. Each has one
// contract; where two uses want different ones, they have two names.
//
// Everything here is inline and free of instruction-set options: a kernel
// includes this before its own instruction-set region, and the compiler
// inlines these into code compiled for any wider set.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hittab {

// The position of the lowest set bit; `bits` is not zero.
inline unsigned lowest_bit(std::uint64_t bits) {
    assert(bits != 0);
    return static_cast<unsigned>(__builtin_ctzll(bits));
}

// The bits at `position` and above; `position` is below 64, which costs no
// test where the caller knows it.
inline std::uint64_t bits_from(std::size_t position) {
    assert(position < 64);
    return ~std::uint64_t{0} << position;
}

// The bits at `position` and above; none when `position` is 64 or more.
inline std::uint64_t bits_from_or_none(std::size_t position) {
    return position >= 64 ? 0 : ~std::uint64_t{0} << position;
}

// Set bits, counted without the processor's own instruction, which a
// portable build may not have.
inline unsigned count_bits(std::uint64_t bits) {
    bits -= bits >> 1 & 0x5555555555555555ull;
    bits = (bits & 0x3333333333333333ull) + (bits >> 2 & 0x3333333333333333ull);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>(bits * 0x0101010101010101ull >> 56);
}

// The eight bytes from `p` as a little-endian number, whatever the
// processor's byte order: byte i of the text is byte i of the number.
inline std::uint64_t load_eight(const char* p) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    bytes = __builtin_bswap64(bytes);
#endif
    return bytes;
}

// The bits of the first `size` bytes (1 to 8) of eight.
inline std::uint64_t first_bytes(std::size_t size) {
    assert(size >= 1 && size <= 8);
    return ~std::uint64_t{0} >> (64 - 8 * size);
}

// Bit 8i + 7 set for each byte i of `bytes` that is no digit, exactly.
inline std::uint64_t non_digits(std::uint64_t bytes) {
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t high_bits = 0x8080808080808080ull;
    // '0' to '9' become 0 to 9; any other byte 10 or more. Adding 0x76 to a
    // byte's low seven bits sets its top bit from 10 up and never carries
    // into the next byte; a top bit of its own is no digit either.
    std::uint64_t offsets = bytes ^ 0x3030303030303030ull;
    return (offsets | ((offsets & low_bits) + 0x7676767676767676ull)) & high_bits;
}

// Bit 8i + 7 set for each byte i of `bytes` below 0x21 (whitespace among
// them); exact for the first such byte only, as the borrow may mark bytes
// after it.
inline std::uint64_t first_below_0x21(std::uint64_t bytes) {
    return (bytes - 0x2121212121212121ull) & ~bytes & 0x8080808080808080ull;
}

// Bit 8i + 7 set for each byte i of `bytes` that is zero, exactly: no
// false hit after a zero byte.
inline std::uint64_t zero_bytes(std::uint64_t bytes) {
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Full;
    return ~(((bytes & low_bits) + low_bits) | bytes | low_bits);
}

// The first of eight bytes (as load_eight gives them) that is `byte`, or 8
// when none is.
inline std::size_t first_byte_of(std::uint64_t bytes, char byte) {
    std::uint64_t found = zero_bytes(bytes ^ (0x0101010101010101ull * static_cast<unsigned char>(byte)));
    return found == 0 ? 8 : lowest_bit(found) / 8;
}

// The number written in the first `size` bytes of `bytes` (1 to 8 digits),
// all eight digits added at once.
inline std::uint64_t digits_value(std::uint64_t bytes, std::size_t size) {
    assert(size >= 1 && size <= 8);
    // The digits to the top bytes, the first one most significant; the
    // bytes below them become zero digits.
    bytes <<= 64 - 8 * size;
    bytes = (bytes & 0x0F0F0F0F0F0F0F0Full) * (10 * 256 + 1) >> 8;
    bytes = (bytes & 0x00FF00FF00FF00FFull) * (100 * 65536 + 1) >> 16;
    return (bytes & 0x0000FFFF0000FFFFull) * (10000 * (std::uint64_t{1} << 32) + 1) >> 32;
}

// Whether the bytes at `p` begin with the literal `text`, compared eight
// at a time: `p` lies in padded text, so the bytes past its line can be read.
template <std::size_t size>
inline bool literal_at(const char* p, const char (&text)[size]) {
    constexpr std::size_t length = size - 1;
    for (std::size_t at = 0; at < length; at += 8) {
        std::size_t chunk = length - at < 8 ? length - at : 8;
        std::uint64_t expected = 0;
        for (std::size_t i = 0; i < chunk; ++i)
            expected |= std::uint64_t{static_cast<unsigned char>(text[at + i])} << 8 * i;
        std::uint64_t kept = chunk == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << 8 * chunk) - 1;
        if ((load_eight(p + at) & kept) != expected) return false;
    }
    return true;
}

}  // namespace hittab
