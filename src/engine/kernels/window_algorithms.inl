// The window loops, written once over one instruction set's primitives.
// Each kernel source includes this file inside its own anonymous namespace,
// after defining there
//
//   struct Window {
//       explicit Window(const char* p);         // the 64 bytes from p, any alignment
//       std::uint64_t equal(char byte) const;   // bit i: byte i is `byte`
//       std::uint64_t whitespace() const;       // bit i: byte i is one of the ten whitespace bytes
//   };
//
// so that every kernel gets its own copy, compiled for its instruction set,
// which no other kernel's copy can replace at link time. No includes here:
// the kernel source includes <cstdint>, <cstddef>, <string_view>,
// "bits.hpp" and "kernel.hpp" before its instruction-set region begins.

// lowest_bit and bits_from_or_none come from bits.hpp. Set bits are counted
// here with the processor's instruction where this kernel's region has it,
// unlike bits.hpp's count_bits, which must do without.
inline unsigned popcount(std::uint64_t bits) { return static_cast<unsigned>(__builtin_popcountll(bits)); }

inline bool is_whitespace_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x09 && byte <= 0x0D) || (byte >= 0x1C && byte <= 0x20);
}

// The second byte is looked at only when it lies inside the text.
inline bool is_candidate_at(const char* line_start, const char* end) {
    char first = line_start[0];
    if (first == '>') return true;
    if (first != ' ' || line_start + 1 >= end) return false;
    char second = line_start[1];
    return second == 'S' || second == 'I';
}

WindowMasks classify(const char* window) {
    Window bytes(window);
    return WindowMasks{bytes.equal('\n'), bytes.equal(' '), bytes.equal('>'), bytes.whitespace()};
}

TokenMasks mark_token_bytes(const char* window) {
    Window bytes(window);
    return TokenMasks{bytes.whitespace(), bytes.equal('=')};
}

// Works on aligned 64-byte windows, which may start before the text and end
// after it (hence the padding): one pass finds every LF, '>' and ' '. A line
// start is the bit after an LF. Lines that start with two spaces (alignment
// match lines, statistics) are ruled out with the same masks, so the few
// lines left need only their second byte looked at. A line found near the
// end of a window is completed by the first LF of a later one.
std::size_t find_candidate_lines(PaddedView& text, std::uint64_t& line_number, CandidateLine* lines,
                                 std::size_t capacity) {
    const char* start = text.data();
    const char* end = start + text.size();
    if (start >= end || capacity == 0) return 0;
    std::size_t count = 0;
    auto line_between = [&](const char* begin, const char* after) { return text.between(begin, after); };
    auto rest_from = [&](const char* from) { return text.between(from, end); };

    const char* open_line = nullptr;  // a candidate whose LF is still ahead
    std::uint64_t open_number = 0;
    std::uint64_t number = line_number;  // the number of the line holding the window's first byte of ours
    auto first = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(start) & 63);
    const char* window = start - first;
    std::uint64_t ours = bits_from_or_none(first);    // bytes before the text belong to no line of ours
    std::uint64_t carry = std::uint64_t{1} << first;  // the text's first byte starts a line
    for (;;) {
        Window bytes(window);
        std::uint64_t line_ends = bytes.equal('\n');
        std::uint64_t spaces = bytes.equal(' ');
        std::uint64_t starts = (line_ends << 1 | carry) & ours;
        carry = line_ends >> 63;
        line_ends &= ours;
        auto remaining = static_cast<std::size_t>(end - window);
        if (remaining < 64) {
            std::uint64_t inside = ~bits_from_or_none(remaining);
            line_ends &= inside;
            starts &= inside;
        }

        if (open_line != nullptr && line_ends != 0) {
            const char* next = window + lowest_bit(line_ends) + 1;
            lines[count++] = {line_between(open_line, next), open_number};
            open_line = nullptr;
            if (count == capacity) {
                text = rest_from(next);
                line_number = open_number + 1;
                return count;
            }
        }
        // A space followed by a space cannot start a line that matters; the
        // byte after bit 63 is in the next window, so that line stays in.
        std::uint64_t lone_spaces = spaces & ~(spaces >> 1 & ~(std::uint64_t{1} << 63));
        std::uint64_t candidates = starts & (bytes.equal('>') | lone_spaces);
        for (; candidates != 0; candidates &= candidates - 1) {
            unsigned offset = lowest_bit(candidates);
            const char* line_start = window + offset;
            if (!is_candidate_at(line_start, end)) continue;
            std::uint64_t line_start_number = number + popcount(line_ends & ~bits_from_or_none(offset));
            std::uint64_t own_end = line_ends & bits_from_or_none(offset);
            if (own_end == 0) {
                open_line = line_start;
                open_number = line_start_number;
                break;  // nothing starts after a line that runs past this window
            }
            const char* next = window + lowest_bit(own_end) + 1;
            lines[count++] = {line_between(line_start, next), line_start_number};
            if (count == capacity) {
                text = rest_from(next);
                line_number = line_start_number + 1;
                return count;
            }
        }
        number += popcount(line_ends);
        if (remaining <= 64) break;
        window += 64;
        ours = ~std::uint64_t{0};
    }
    if (open_line != nullptr) lines[count++] = {line_between(open_line, end), open_number};
    text = rest_from(end);
    line_number = number;
    return count;
}

// Tokens from the first and last byte of every run of non-whitespace, found
// with shifted masks 64 bytes at a time; a token that runs on into the next
// window is completed there.
std::size_t tokenise(PaddedView padded, std::string_view* tokens, std::size_t max_tokens) {
    std::string_view text = padded.text();
    std::size_t count = 0;
    if (max_tokens == 0) return 0;
    const char* open_token = nullptr;     // a token that runs on from the previous window
    std::uint64_t previous_is_token = 0;  // 1 when the byte before the window belongs to a token
    for (std::size_t base = 0; base < text.size(); base += 64) {
        const char* window = text.data() + base;
        std::uint64_t in_token = ~Window(window).whitespace();
        // Bytes past the end of the text end every token.
        if (text.size() - base < 64) in_token &= ~bits_from_or_none(text.size() - base);
        // First and last byte of every token in the window; a token that goes
        // on into the next window has no last byte here.
        std::uint64_t starts = in_token & ~(in_token << 1 | previous_is_token);
        std::uint64_t ends = in_token & ~(in_token >> 1);
        if (base + 64 < text.size() && !is_whitespace_byte(window[64])) ends &= ~(std::uint64_t{1} << 63);
        previous_is_token = in_token >> 63;

        if (open_token != nullptr && ends != 0) {
            const char* after = window + lowest_bit(ends) + 1;
            tokens[count++] = std::string_view(open_token, static_cast<std::size_t>(after - open_token));
            open_token = nullptr;
            ends &= ends - 1;
            if (count == max_tokens) return count;
        }
        for (; starts != 0; starts &= starts - 1) {
            const char* token_start = window + lowest_bit(starts);
            if (ends == 0) {
                open_token = token_start;
                break;
            }
            const char* after = window + lowest_bit(ends) + 1;
            tokens[count++] = std::string_view(token_start, static_cast<std::size_t>(after - token_start));
            ends &= ends - 1;
            if (count == max_tokens) return count;
        }
    }
    return count;
}

// Three masks a window, from windows that start at the text's first byte,
// however it is aligned (the padding makes the last one readable).
void mark_alignment_bytes(PaddedView text, AlignmentMasks* masks) {
    const char* start = text.data();
    std::size_t size = text.size();
    std::size_t whole = size / 64 * 64;  // whole windows first, with nothing to clear
    for (std::size_t window = 0; window < whole; window += 64) {
        Window bytes(start + window);
        *masks++ = AlignmentMasks{bytes.equal('\n'), bytes.equal(' '), bytes.equal('-')};
    }
    if (whole < size) {
        Window bytes(start + whole);
        std::uint64_t inside = ~bits_from_or_none(size - whole);
        *masks = AlignmentMasks{bytes.equal('\n') & inside, bytes.equal(' ') & inside, bytes.equal('-') & inside};
    }
}

constexpr Kernel make_kernel(const char* name) {
    return Kernel{name, find_candidate_lines, tokenise, mark_alignment_bytes, classify, mark_token_bytes};
}
