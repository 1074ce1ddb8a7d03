#include "scanner.hpp"

#include <array>
#include <iterator>
#include <cstring>
#include <string>

#include "line_finder.hpp"

namespace hittab {

namespace {

// Whitespace is exactly the bytes 0x09 to 0x0D and 0x1C to 0x20. Tokenising
// works on bit masks, eight bytes at a time, so that a line costs a few
// operations per word instead of a hard-to-predict branch per byte.
constexpr std::uint64_t every_byte = 0x0101010101010101ull;
constexpr std::uint64_t high_bits = 0x8080808080808080ull;

// The mask of bits at `position` and above (position < 64).
std::uint64_t from(unsigned position) { return ~std::uint64_t{0} << position; }

unsigned lowest_bit(std::uint64_t bits) { return static_cast<unsigned>(__builtin_ctzll(bits)); }

bool is_whitespace(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x09 && byte <= 0x0D) || (byte >= 0x1C && byte <= 0x20);
}

// Eight bytes from `p` as a little-endian word.
std::uint64_t load_word(const char* p) {
    unsigned char bytes[8];
    std::memcpy(bytes, p, 8);
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = word << 8 | bytes[i];
    return word;
}

// The last `tail` (< 8) bytes of `text` as a zero-padded little-endian word.
// A text of 8 bytes or more is read with one load that ends where it ends.
std::uint64_t load_tail(std::string_view text, std::size_t tail) {
    const char* end = text.data() + text.size();
    if (tail == 0) return 0;
    if (text.size() >= 8) return load_word(end - 8) >> (8 * (8 - tail));
    std::uint64_t word = 0;
    for (const char* p = end; p != end - tail;) word = word << 8 | static_cast<unsigned char>(*--p);
    return word;
}

// Bit i is set when byte i of the (little-endian) word is whitespace.
std::uint64_t whitespace_bits(std::uint64_t word) {
    // Each byte becomes 0x80 + its low seven bits, so that subtracting a
    // small constant from every byte never borrows from the next one.
    std::uint64_t biased = (word & ~high_bits) | high_bits;
    auto at_least = [biased](std::uint64_t n) { return (biased - n * every_byte) & high_bits; };
    std::uint64_t in_ranges = (at_least(0x09) & ~at_least(0x0E)) | (at_least(0x1C) & ~at_least(0x21));
    std::uint64_t whitespace = in_ranges & ~word;  // bytes from 0x80 up are never whitespace
    return ((whitespace >> 7) * 0x0102040810204080ull) >> 56;
}

// Whitespace bits for the (up to) 64 bytes of `text` from `base`; positions
// past its end count as whitespace, so that a token ends where the text ends.
std::uint64_t whitespace_window(std::string_view text, std::size_t base) {
    const char* p = text.data() + base;
    std::size_t size = text.size() - base;
    std::uint64_t bits = 0;
    std::size_t at = 0;
    for (; at + 8 <= size && at < 64; at += 8) bits |= whitespace_bits(load_word(p + at)) << at;
    if (at < 64) {
        std::size_t tail = size - at;  // fewer than 8 bytes
        bits |= (whitespace_bits(load_tail(text, tail)) | from(static_cast<unsigned>(tail))) << at;
    }
    return bits;
}

bool starts_with(std::string_view line, std::string_view prefix) {
    return line.size() >= prefix.size() && std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

[[noreturn]] void raise_index_failure(std::uint64_t line_number) {
    throw Failure(FailureKind::index, "list index out of range", line_number);
}

void assign(std::string& field, std::string_view value) {
    // Values are short and fields keep their capacity: copy in place rather
    // than through the general (and much slower) assign.
    if (value.size() <= field.capacity()) {
        field.resize(value.size());
        std::memcpy(field.data(), value.data(), value.size());
    } else {
        field.assign(value.data(), value.size());
    }
}

// A title line: ">", then exactly three values once every "length=" has
// been deleted. The ">" counts as the first, discarded value whether or not
// a space follows it.
void read_title(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    static constexpr std::string_view tag = "length=";
    std::string_view rest = line.substr(1);
    // Titles are short: the text without its tags is built on the stack, and
    // only an unusually long title needs the heap.
    char short_text[512];
    std::string long_text;
    std::size_t found = rest.find(tag);
    if (found != std::string_view::npos) {
        char* text = short_text;
        if (rest.size() > sizeof short_text) {
            long_text.resize(rest.size());
            text = long_text.data();
        }
        std::size_t size = 0;
        std::size_t from = 0;
        for (; found != std::string_view::npos; found = rest.find(tag, from)) {
            std::memcpy(text + size, rest.data() + from, found - from);
            size += found - from;
            from = found + tag.size();
        }
        std::memcpy(text + size, rest.data() + from, rest.size() - from);
        size += rest.size() - from;
        rest = std::string_view(text, size);
    }

    std::string_view values[4];
    std::size_t count = tokenise(rest, values, 4);
    if (count < 3) {
        throw Failure(FailureKind::unpacking,
                      "not enough values to unpack (expected 4, got " + std::to_string(count + 1) + ")",
                      line_number);
    }
    if (count > 3) throw Failure(FailureKind::unpacking, "too many values to unpack (expected 4)", line_number);
    assign(record.id1, values[0]);
    assign(record.id2, values[1]);
    assign(record.length, values[2]);
}

// " Score = 1376 bits (745),  Expect = 0.0": the score, the count inside
// "(745)," and the expect value, verbatim.
void read_score(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view items[8];
    std::size_t count = tokenise(line, items, 8);
    if (count < 3) raise_index_failure(line_number);
    assign(record.score, items[2]);
    if (count < 5) raise_index_failure(line_number);
    std::string_view count_token = items[4];
    // Without its first character and its last two: "(745)," gives "745".
    assign(record.length2, count_token.size() > 3 ? count_token.substr(1, count_token.size() - 3) : std::string_view());
    if (count < 8) raise_index_failure(line_number);
    assign(record.e_value, items[7]);
}

// " Identities = 745/745 (100%), Gaps = 0/745 (0%)"
void read_identities(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view items[7];
    std::size_t count = tokenise(line, items, 7);
    if (count < 3) raise_index_failure(line_number);
    assign(record.identities, items[2]);
    if (count < 7) raise_index_failure(line_number);
    assign(record.gaps, items[6]);
}

// " Strand=Plus/Plus": everything after "=" up to the line end, spaces and all.
void read_strand(std::string_view line, HitRecord& record) {
    std::string_view value = line.substr(8);
    if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
    assign(record.strand, value);
}

}  // namespace

std::size_t tokenise(std::string_view text, std::string_view* tokens, std::size_t max_tokens) {
    std::size_t count = 0;
    if (max_tokens == 0) return 0;
    const char* open_token = nullptr;  // a token that runs on from the previous window
    std::uint64_t previous_is_token = 0;  // 1 when the byte before the window belongs to a token
    for (std::size_t base = 0; base < text.size(); base += 64) {
        const char* window = text.data() + base;
        std::uint64_t in_token = ~whitespace_window(text, base);
        // First and last byte of every token in the window; a token that goes
        // on into the next window has no last byte here.
        std::uint64_t starts = in_token & ~(in_token << 1 | previous_is_token);
        std::uint64_t ends = in_token & ~(in_token >> 1);
        if (base + 64 < text.size() && !is_whitespace(window[64])) ends &= ~(std::uint64_t{1} << 63);
        previous_is_token = in_token >> 63;

        if (open_token != nullptr && ends != 0) {
            tokens[count++] = std::string_view(open_token, static_cast<std::size_t>(window + lowest_bit(ends) + 1 - open_token));
            open_token = nullptr;
            ends &= ends - 1;
            if (count == max_tokens) return count;
        }
        for (; starts != 0; starts &= starts - 1) {
            const char* start = window + lowest_bit(starts);
            if (ends == 0) {
                open_token = start;
                break;
            }
            tokens[count++] = std::string_view(start, static_cast<std::size_t>(window + lowest_bit(ends) + 1 - start));
            ends &= ends - 1;
            if (count == max_tokens) return count;
        }
    }
    return count;
}

void scan_line(std::string_view line, std::uint64_t line_number, HitRecord& record, TableWriter& table) {
    if (starts_with(line, ">")) {
        dump(record, table);
        read_title(line, line_number, record);
    } else if (starts_with(line, " Score = ")) {
        read_score(line, line_number, record);
    } else if (starts_with(line, " Identities = ")) {
        read_identities(line, line_number, record);
    } else if (starts_with(line, " Strand=")) {
        read_strand(line, record);
    }
}

std::uint64_t scan_lines(std::string_view lines, std::uint64_t first_line_number, HitRecord& record,
                         TableWriter& table) {
    const char* position = lines.data();
    const char* end = position + lines.size();
    std::uint64_t line_number = first_line_number;
    CandidateLine found[64];
    while (position != end) {
        std::size_t count = find_candidate_lines(position, end, line_number, found, std::size(found));
        for (std::size_t i = 0; i < count; ++i) scan_line(found[i].text, found[i].line_number, record, table);
    }
    return line_number;
}

}  // namespace hittab
