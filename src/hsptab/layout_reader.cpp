#include "layout_reader.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "failure.hpp"

namespace hittab::hsptab {

namespace {

// Whether `text` begins with the literal `prefix`; compared inline, as most
// lines are tested against a few prefixes.
template <std::size_t size>
bool starts_with(std::string_view text, const char (&prefix)[size]) {
    if (text.size() < size - 1) return false;
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (text[i] != prefix[i]) return false;
    }
    return true;
}

// ' ', '\t', '\r', '\v' and '\f', as bits: titles and words are scanned byte by byte.
bool is_space(char c) {
    constexpr std::uint64_t spaces = std::uint64_t{1} << ' ' | std::uint64_t{1} << '\t' | std::uint64_t{1} << '\r' |
                                     std::uint64_t{1} << '\v' | std::uint64_t{1} << '\f';
    auto byte = static_cast<unsigned char>(c);
    return byte <= ' ' && (spaces >> byte & 1) != 0;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view skip_spaces(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    return text;
}

// The leading digits of `text` as a number, removed from it; false when
// there are none (or too many to be a coordinate).
bool take_number(std::string_view& text, std::uint64_t& number) {
    std::size_t digits = 0;
    number = 0;
    while (digits < text.size() && is_digit(text[digits]) && digits < 19) {
        number = number * 10 + static_cast<std::uint64_t>(text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || (digits < text.size() && is_digit(text[digits]))) return false;
    text.remove_prefix(digits);
    return true;
}

// The leading word of `text` (up to whitespace), removed from it. Eight
// bytes at a time: the first byte below 0x21 of eight is found exactly (the
// borrow only marks bytes after it), and only such a byte can be whitespace.
std::string_view take_word(std::string_view& text) {
    std::size_t size = 0;
    for (; size + 8 <= text.size(); size += 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, text.data() + size, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        bytes = __builtin_bswap64(bytes);
#endif
        std::uint64_t low = (bytes - 0x2121212121212121ull) & ~bytes & 0x8080808080808080ull;
        if (low != 0) {
            size += static_cast<std::size_t>(__builtin_ctzll(low)) / 8;
            break;
        }
    }
    while (size < text.size() && !is_space(text[size])) ++size;
    std::string_view word = text.substr(0, size);
    text.remove_prefix(size);
    return word;
}

// "+2", "-1", "1": a frame.
bool take_frame(std::string_view& text, int& frame) {
    text = skip_spaces(text);
    int sign = 1;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        sign = text.front() == '-' ? -1 : 1;
        text.remove_prefix(1);
    }
    std::uint64_t number = 0;
    if (!take_number(text, number) || number > 3) return false;
    frame = sign * static_cast<int>(number);
    return true;
}

// Searches of the few short lines read for each alignment: plain loops,
// cheaper there than a library call each.
std::size_t find_byte(std::string_view text, char byte, std::size_t from = 0) {
    for (std::size_t at = from; at < text.size(); ++at) {
        if (text[at] == byte) return at;
    }
    return std::string_view::npos;
}

// The first '=' or ':' from `from` on.
std::size_t find_separator(std::string_view text, std::size_t from = 0) {
    for (std::size_t at = from; at < text.size(); ++at) {
        if (text[at] == '=' || text[at] == ':') return at;
    }
    return std::string_view::npos;
}

std::size_t find_text(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return std::string_view::npos;
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        if (text[at] == word[0] && text.compare(at, word.size(), word) == 0) return at;
    }
    return std::string_view::npos;
}

// The text after `label` and the separator that follows it ('=' or ':',
// with spaces around), or empty text when `label` is not in `line`.
std::string_view after_label(std::string_view line, std::string_view label) {
    std::size_t at = find_text(line, label);
    if (at == std::string_view::npos) return std::string_view();
    std::string_view rest = line.substr(at + label.size());
    std::size_t separator = find_separator(rest);
    if (separator == std::string_view::npos) return std::string_view();
    return skip_spaces(rest.substr(separator + 1));
}

bool is_known_program(std::string_view word) {
    for (std::string_view known :
         {"BLASTN", "BLASTP", "BLASTX", "TBLASTN", "TBLASTX", "PSIBLAST", "RPSBLAST", "RPSTBLASTN", "DELTABLAST"}) {
        if (word == known) return true;
    }
    return false;
}

// "BLASTN 2.12.0+", "BLASTP 2.0.10 [Aug-26-1999]": a program's name, a
// space, a version. Gives the name.
bool is_program_line(std::string_view line, std::string_view& name) {
    if (line.empty()) return false;
    switch (line[0]) {  // the first letters of the known programs
        case 'B':
        case 'T':
        case 'P':
        case 'R':
        case 'D': break;
        default: return false;
    }
    std::string_view rest = line.substr(0, 12);
    std::string_view word = take_word(rest);
    if (rest.size() < 2 || rest[0] != ' ' || !is_digit(rest[1])) return false;
    if (!is_known_program(word)) return false;
    name = word;
    return true;
}

SearchKind kind_of(std::string_view program) {
    if (program == "BLASTN") return SearchKind::nucleotide;
    if (program == "BLASTX" || program == "RPSTBLASTN") return SearchKind::translated_query;
    if (program == "TBLASTN") return SearchKind::translated_subject;
    if (program == "TBLASTX") return SearchKind::translated_both;
    return SearchKind::protein;
}

// A line shown in a failure report: printable, and short.
std::string shown(std::string_view line) {
    std::string text;
    for (char c : line.substr(0, 60)) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (c == '\t') {
            text += "\\t";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            static const char hex[] = "0123456789abcdef";
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 15];
        }
    }
    if (line.size() > 60) text += "...";
    return text;
}

// A line of a wrapped query definition that is one piece of a word too long
// for a line.
bool is_cut_word(std::string_view text) { return text.size() == 68 && text.find(' ') == std::string_view::npos; }

// Joins a wrapped line to the text before it, words separated by one space.
void append_wrapped(std::string& text, std::string_view line) {
    line = trim(line);
    if (line.empty()) return;
    while (!text.empty() && is_space(text.back())) text.pop_back();
    if (!text.empty()) text += ' ';
    text += line;
}

// `text` in place of what `into` held, in the room it has: a plain append,
// cheaper than a general assignment.
void copy_into(std::string& into, std::string_view text) {
    into.clear();
    into.append(text.data(), text.size());
}

// Keeps the room `word` has, as a new subject's ID replaces the last one's.
void assign_first_word(std::string& word, std::string_view text) {
    text = skip_spaces(text);
    copy_into(word, take_word(text));
}

// The frame of a translated sequence from where its alignment starts.
int frame_from(std::uint64_t start, std::uint64_t end, std::uint64_t length) {
    if (start <= end) return static_cast<int>((start - 1) % 3) + 1;
    return -(static_cast<int>((length - start) % 3) + 1);
}

}  // namespace

struct GapCount {
    std::uint64_t columns = 0;  // dashes
    std::uint64_t runs = 0;     // dashes that follow no dash; one at `from` always counts
};

// "Query  1    ACGT-ACGT  8", "Sbjct: 201 ACGTTACGT 209": a label of five
// letters, an optional colon, the start, the residues, the end.
struct AlignmentLine {
    std::uint64_t from = 0, to = 0;
    const char* residues_begin = nullptr;
    const char* residues_end = nullptr;
    const char* end = nullptr;  // the line's end: its line feed, or the end of the text
};

// A run of lines with the masks of its 64-byte windows: the next line feed
// or space, and the dashes of a stretch, are read from the bits rather than
// from the bytes.
struct MarkedLines {
    const char* begin;
    const AlignmentMasks* masks;
};

namespace {

// The bits of `mask` for the 64 bytes from the one at offset `at`: bit i
// stands for byte at + i. The next window's bits come in above, shifted in
// two steps so that a shift of 0 needs no branch.
template <std::uint64_t AlignmentMasks::*mask>
std::uint64_t marks_from(const MarkedLines& marked, std::size_t at) {
    std::size_t window = at / 64;
    unsigned shift = at % 64;
    return marked.masks[window].*mask >> shift | (marked.masks[window + 1].*mask << 1) << (63 - shift);
}

// The first byte in [from, limit) whose bit `mask` has, or `limit`.
template <std::uint64_t AlignmentMasks::*mask>
const char* find_marked(const MarkedLines& marked, const char* from, const char* limit) {
    if (from >= limit) return limit;
    auto at = static_cast<std::size_t>(from - marked.begin);
    auto stop = static_cast<std::size_t>(limit - marked.begin);
    std::size_t window = at / 64;
    std::uint64_t bits = marked.masks[window].*mask >> (at % 64);
    while (bits == 0) {
        at = ++window * 64;
        if (at >= stop) return limit;
        bits = marked.masks[window].*mask;
    }
    std::size_t found = at + static_cast<std::size_t>(__builtin_ctzll(bits));
    return found < stop ? marked.begin + found : limit;
}

// The first space or line feed in [from, limit), or `limit`.
const char* find_space_or_line_end(const MarkedLines& marked, const char* from, const char* limit) {
    for (; from < limit; from += 64) {
        auto at = static_cast<std::size_t>(from - marked.begin);
        std::uint64_t stops =
            marks_from<&AlignmentMasks::spaces>(marked, at) | marks_from<&AlignmentMasks::line_feeds>(marked, at);
        if (stops != 0) return std::min(from + __builtin_ctzll(stops), limit);
    }
    return limit;
}

// Set bits, counted without the processor's own instruction, which a
// portable build may not have.
unsigned count_bits(std::uint64_t bits) {
    bits -= bits >> 1 & 0x5555555555555555ull;
    bits = (bits & 0x3333333333333333ull) + (bits >> 2 & 0x3333333333333333ull);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>(bits * 0x0101010101010101ull >> 56);
}

// The dashes in [from, to), which is not empty, counted from their masks.
GapCount count_gaps(const MarkedLines& marked, const char* from, const char* to) {
    auto at = static_cast<std::size_t>(from - marked.begin);
    auto stop = static_cast<std::size_t>(to - marked.begin);
    GapCount count;
    for (std::size_t window = at / 64; window * 64 < stop; ++window) {
        std::uint64_t inside = ~std::uint64_t{0};
        if (window * 64 < at) inside <<= at % 64;
        if (stop - window * 64 < 64) inside &= ~(~std::uint64_t{0} << (stop - window * 64));
        std::uint64_t dashes = marked.masks[window].dashes;
        if ((dashes & inside) == 0) continue;  // most lines have no gap
        std::uint64_t after_dash = dashes << 1 | (window * 64 > at ? marked.masks[window - 1].dashes >> 63 : 0);
        if (window * 64 < at) after_dash &= ~(std::uint64_t{1} << at % 64);
        count.columns += count_bits(dashes & inside);
        count.runs += count_bits(dashes & ~after_dash & inside);
    }
    return count;
}

// Reads the alignment line that begins at `start`, finding its end on the
// way, as no byte it reads is past that line feed (or, for a last line
// without one, the zeroed padding after the text). False when the line is
// anything else.
bool parse_alignment_line(const MarkedLines& marked, const char* start, const char* text_end, AlignmentLine& line) {
    const char* p = start + 5;
    if (*p == ':') ++p;
    while (*p == ' ') ++p;
    const char* digits = p;
    while (is_digit(*p)) line.from = line.from * 10 + static_cast<std::uint64_t>(*p++ - '0');
    if (p == digits || p - digits >= 19) return false;
    while (*p == ' ') ++p;
    // The residues end at a space; a line end first leaves no end coordinate.
    const char* residues_end = find_space_or_line_end(marked, p, text_end);
    if (residues_end == p || residues_end == text_end || *residues_end != ' ') return false;
    line.residues_begin = p;
    line.residues_end = residues_end;
    p = residues_end + 1;
    while (*p == ' ') ++p;
    digits = p;
    while (is_digit(*p)) line.to = line.to * 10 + static_cast<std::uint64_t>(*p++ - '0');
    if (p == digits || p - digits >= 19) return false;
    while (is_space(*p)) ++p;
    if (p != text_end && *p != '\n') return false;
    line.end = p;
    return true;
}

// The eight bytes from `p` as a little-endian number, whatever the
// processor's byte order.
std::uint64_t load_eight(const char* p) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    bytes = __builtin_bswap64(bytes);
#endif
    return bytes;
}

// Bit 8i + 7 set for each byte i of `bytes` that is no digit, exactly.
std::uint64_t non_digits(std::uint64_t bytes) {
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t high_bits = 0x8080808080808080ull;
    // '0' to '9' become 0 to 9; any other byte 10 or more. Adding 0x76 to a
    // byte's low seven bits sets its top bit from 10 up and never carries
    // into the next byte; a top bit of its own is no digit either.
    std::uint64_t offsets = bytes ^ 0x3030303030303030ull;
    return (offsets | ((offsets & low_bits) + 0x7676767676767676ull)) & high_bits;
}

// The bits of the first `size` bytes (1 to 8) of eight.
std::uint64_t first_bytes(std::size_t size) { return ~std::uint64_t{0} >> (64 - 8 * size); }

// The number written in the first `size` bytes of `bytes` (1 to 8 digits),
// all eight digits added at once.
std::uint64_t digits_value(std::uint64_t bytes, std::size_t size) {
    // The digits to the top bytes, the first one most significant; the
    // bytes below them become zero digits.
    bytes <<= 64 - 8 * size;
    bytes = (bytes & 0x0F0F0F0F0F0F0F0Full) * (10 * 256 + 1) >> 8;
    bytes = (bytes & 0x00FF00FF00FF00FFull) * (100 * 65536 + 1) >> 16;
    return (bytes & 0x0000FFFF0000FFFFull) * (10000 * (std::uint64_t{1} << 32) + 1) >> 32;
}

// Whether the bytes at `p` begin with the literal `text`, compared eight
// at a time; `p` lies in padded text, so the bytes past its line can be read.
template <std::size_t size>
bool literal_at(const char* p, const char (&text)[size]) {
    constexpr std::size_t length = size - 1;
    for (std::size_t at = 0; at < length; at += 8) {
        std::size_t chunk = std::min<std::size_t>(8, length - at);
        std::uint64_t expected = 0;
        for (std::size_t i = 0; i < chunk; ++i)
            expected |= std::uint64_t{static_cast<unsigned char>(text[at + i])} << 8 * i;
        std::uint64_t kept = chunk == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << 8 * chunk) - 1;
        if ((load_eight(p + at) & kept) != expected) return false;
    }
    return true;
}

// The lowest set bit's position; `bits` is not zero.
std::size_t lowest_bit(std::uint64_t bits) { return static_cast<std::size_t>(__builtin_ctzll(bits)); }

// The bits at `position` (below 64) and above.
std::uint64_t bits_from(std::size_t position) { return ~std::uint64_t{0} << position; }

// The usual BLAST+ alignment line, "Query  249  ACGT...ACGT  308", read from
// the masks in a few steps: the label (which the caller has seen) and a
// space, the start, the residues (at most 63), the end right before the line
// feed. False for any other shape, which parse_alignment_line reads; where
// this one reads a line, that one reads the same (but gives the start only
// when `want_start`). Inlined into both callers: a call costs much of what
// the line takes.
inline __attribute__((always_inline)) bool parse_usual_alignment_line(const MarkedLines& marked, const char* start,
                                                                      const char* text_end, bool want_start,
                                                                      AlignmentLine& line, GapCount& gaps) {
    auto at = static_cast<std::size_t>(start - marked.begin);
    std::uint64_t spaces = marks_from<&AlignmentMasks::spaces>(marked, at);
    if ((spaces & 0x3F) != 0x20) return false;
    std::uint64_t start_digits = ~spaces & bits_from(6);
    if (start_digits == 0) return false;
    unsigned number_begin = lowest_bit(start_digits);
    std::uint64_t after_number = spaces & bits_from(number_begin);
    if (after_number == 0) return false;
    unsigned number_end = lowest_bit(after_number);
    // The start is checked on every line, but only the first line's is kept.
    std::size_t start_size = number_end - number_begin;
    std::uint64_t start_bytes = load_eight(start + number_begin);
    if (start_size > 8 || (non_digits(start_bytes) & first_bytes(start_size)) != 0) return false;
    if (want_start) line.from = digits_value(start_bytes, start_size);
    std::uint64_t residue_start = ~spaces & bits_from(number_end);
    if (residue_start == 0) return false;
    unsigned residues_offset = lowest_bit(residue_start);

    // From the residues on: they end at a space, with no line feed before it.
    std::size_t residues_at = at + residues_offset;
    std::uint64_t residue_spaces = marks_from<&AlignmentMasks::spaces>(marked, residues_at);
    std::uint64_t residue_line_feeds = marks_from<&AlignmentMasks::line_feeds>(marked, residues_at);
    if (residue_spaces == 0) return false;
    unsigned residues_size = lowest_bit(residue_spaces);
    std::uint64_t inside = (std::uint64_t{1} << residues_size) - 1;  // below 64: bit residues_size is a space
    if ((residue_line_feeds & (inside << 1 | 1)) != 0) return false;
    const char* residues_begin = marked.begin + residues_at;
    const char* residues_end = residues_begin + residues_size;

    // Then spaces, the end and the line feed.
    std::uint64_t end_start = ~residue_spaces & bits_from(residues_size);
    if (end_start == 0) return false;
    const char* p = residues_begin + lowest_bit(end_start);
    std::uint64_t bytes = load_eight(p);
    std::uint64_t stops = non_digits(bytes);
    if (stops == 0) return false;
    std::size_t end_size = lowest_bit(stops) / 8;
    if (end_size == 0 || p + end_size >= text_end || p[end_size] != '\n') return false;
    line.to = digits_value(bytes, end_size);

    std::uint64_t dashes = marks_from<&AlignmentMasks::dashes>(marked, residues_at) & inside;
    if (dashes != 0) {
        gaps.columns = count_bits(dashes);
        gaps.runs = count_bits(dashes & ~(dashes << 1));
    }
    line.residues_begin = residues_begin;
    line.residues_end = residues_end;
    line.end = p + end_size;
    return true;
}

// The line feeds of a run of marked lines, taken one after the other from
// their masks: most are found without a loop, as a block's lines are short.
class LineFeeds {
public:
    static constexpr std::size_t none = ~std::size_t{0};

    // From offset `at` of the run, which has `size` bytes.
    LineFeeds(const MarkedLines& marked, std::size_t at, std::size_t size)
        : masks_(marked.masks),
          window_(at / 64),
          windows_((size + 63) / 64),
          pending_(masks_[window_].line_feeds & bits_from(at % 64)) {}

    // The next line feed's offset, or `none`.
    std::size_t next() {
        while (pending_ == 0) {
            if (++window_ >= windows_) return none;
            pending_ = masks_[window_].line_feeds;
        }
        std::size_t found = window_ * 64 + lowest_bit(pending_);
        pending_ &= pending_ - 1;
        return found;
    }

private:
    const AlignmentMasks* masks_;
    std::size_t window_;
    std::size_t windows_;
    std::uint64_t pending_;  // the line feeds of window_ not yet taken
};

// A usual alignment line as read_usual_line finds it: its numbers as the
// bytes that write them, made into numbers only where they are kept.
struct UsualLine {
    std::uint64_t start_digits = 0, end_digits = 0;
    std::size_t start_size = 1, end_size = 1;
    std::size_t residues_at = 0;  // offset in the run
    std::uint64_t columns = 0;
};

// The usual BLAST+ alignment line from offset `at` to its line feed at
// `line_end`, both in the run: a label of five letters and a space (which
// the caller has seen), spaces, the start, spaces, the residues (at most
// 63), spaces and the end (at most seven digits). False for any other
// shape, which the line-by-line reading reads; where this reads a line,
// that reads the same.
inline __attribute__((always_inline)) bool read_usual_line(const MarkedLines& marked, std::size_t at,
                                                           std::size_t line_end, UsualLine& line) {
    std::uint64_t spaces = marks_from<&AlignmentMasks::spaces>(marked, at);
    std::uint64_t start_digits = ~spaces & bits_from(6);
    if (start_digits == 0) return false;
    std::size_t number_begin = lowest_bit(start_digits);
    std::uint64_t after_number = spaces & bits_from(number_begin);
    if (after_number == 0) return false;
    std::size_t number_end = lowest_bit(after_number);
    std::size_t start_size = number_end - number_begin;
    std::uint64_t start_bytes = load_eight(marked.begin + at + number_begin);
    if (start_size > 8 || (non_digits(start_bytes) & first_bytes(start_size)) != 0) return false;
    std::uint64_t residue_start = ~spaces & bits_from(number_end);
    if (residue_start == 0) return false;
    std::size_t residues_at = at + lowest_bit(residue_start);
    // The residues end at a space; the end follows the spaces after them,
    // up to the line feed, so no line feed lies before it.
    std::uint64_t residue_spaces = marks_from<&AlignmentMasks::spaces>(marked, residues_at);
    if (residue_spaces == 0) return false;
    std::size_t columns = lowest_bit(residue_spaces);
    std::uint64_t end_start = ~residue_spaces & bits_from(columns);
    if (end_start == 0) return false;
    std::size_t end_at = residues_at + lowest_bit(end_start);
    std::size_t end_size = line_end - end_at;  // wraps when the end lies past the line feed
    if (end_size - 1 >= 7) return false;
    std::uint64_t end_bytes = load_eight(marked.begin + end_at);
    if ((non_digits(end_bytes) & first_bytes(end_size)) != 0) return false;
    line.start_digits = start_bytes;
    line.start_size = start_size;
    line.end_digits = end_bytes;
    line.end_size = end_size;
    line.residues_at = residues_at;
    line.columns = columns;
    return true;
}

// A usual line's gap columns, its gap openings added to `gap_opens`; a run
// of gaps that goes on from the line before (`in_gap`) opened there.
inline __attribute__((always_inline)) std::uint64_t add_usual_gaps(const MarkedLines& marked, const UsualLine& line,
                                                                   bool& in_gap, std::uint64_t& gap_opens) {
    std::uint64_t inside = (std::uint64_t{1} << line.columns) - 1;
    std::uint64_t dashes = marks_from<&AlignmentMasks::dashes>(marked, line.residues_at) & inside;
    bool run_continues = in_gap;
    in_gap = (dashes >> (line.columns - 1)) & 1;
    if (dashes == 0) return 0;
    gap_opens += count_bits(dashes & ~(dashes << 1)) - (run_continues && (dashes & 1));
    return count_bits(dashes);
}

// The literal `text` at `p`, passed over; false (and `p` as it was) when
// the text before `end` does not begin with it.
template <std::size_t size>
inline __attribute__((always_inline)) bool take_literal(const char*& p, const char* end, const char (&text)[size]) {
    if (static_cast<std::size_t>(end - p) < size - 1 || !literal_at(p, text)) return false;
    p += size - 1;
    return true;
}

// The digits at `p` (at most 19) as a number, passed over; false when there
// are none or too many. Up to seven digits are read from eight bytes at once:
// `p` lies in padded text, and a byte past `end` ends the number anyway.
inline __attribute__((always_inline)) bool take_digits(const char*& p, const char* end, std::uint64_t& value) {
    std::uint64_t bytes = load_eight(p);
    std::uint64_t stops = non_digits(bytes);
    auto size = std::min<std::size_t>(stops == 0 ? 8 : lowest_bit(stops) / 8, static_cast<std::size_t>(end - p));
    if (size != 0 && size < 8) {
        value = digits_value(bytes, size);
        p += size;
        return true;
    }
    const char* digits = p;
    value = 0;
    while (p != end && is_digit(*p) && p - digits < 19) value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
    return p != digits && (p == end || !is_digit(*p));
}

// "192/194 (98%)": the part and the whole, passed over.
inline __attribute__((always_inline)) bool take_fraction(const char*& p, const char* end, std::uint64_t& part,
                                                         std::uint64_t& whole) {
    if (!take_digits(p, end, part) || !take_literal(p, end, "/") || !take_digits(p, end, whole) ||
        !take_literal(p, end, " (")) {
        return false;
    }
    while (p != end && is_digit(*p)) ++p;
    return take_literal(p, end, "%)");
}

// " Identities = 192/194 (98%), Gaps = 1/194 (0%)", with ", Positives =
// 85/120 (71%)" before the Gaps for proteins: BLAST+'s Identities line, read
// in one pass. False for any other shape, which read_hsp_line reads in full;
// where this reads a line, that reads the same.
bool read_usual_identities(std::string_view line, Hsp& hsp) {
    const char* p = line.data();
    const char* end = p + line.size();
    std::uint64_t identities = 0, length = 0, positives = 0, gaps = 0, whole = 0;
    if (!take_literal(p, end, " Identities = ") || !take_fraction(p, end, identities, length) || length == 0) {
        return false;
    }
    bool has_positives = take_literal(p, end, ", Positives = ");
    if (has_positives && !take_fraction(p, end, positives, whole)) return false;
    bool has_gaps = take_literal(p, end, ", Gaps = ");
    if ((has_gaps && !take_fraction(p, end, gaps, whole)) || p != end) return false;
    hsp.identities = identities;
    hsp.length = length;
    if (has_positives) {
        hsp.positives = positives;
        hsp.has_positives = true;
    }
    if (has_gaps) {
        hsp.gaps = gaps;
        hsp.has_gaps_line = true;
    }
    return true;
}

// The first of eight bytes (as load_eight gives them) that is `byte`, or 8
// when none is.
std::size_t first_byte_of(std::uint64_t bytes, char byte) {
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7Full;
    std::uint64_t zeros = bytes ^ (0x0101010101010101ull * static_cast<unsigned char>(byte));
    // Exact, byte by byte: a byte's top bit set only where it was zero.
    std::uint64_t found = ~(((zeros & low_bits) + low_bits) | zeros | low_bits);
    return found == 0 ? 8 : lowest_bit(found) / 8;
}

// The legacy form "e-102" is written "1e-102", a number any program reads.
void set_evalue(Hsp& hsp, std::string_view value) {
    if (value.front() == 'e') {
        hsp.evalue.assign_after('1', value);
    } else {
        hsp.evalue.assign(value);
    }
}

// " Score = 349 bits (194),  Expect = 7e-87": BLAST+'s Score line, read with
// a few comparisons of eight bytes. False for any other shape, which
// start_hsp reads in full; where this reads a line, that reads the same.
bool read_usual_score(std::string_view line, Hsp& hsp) {
    const char* p = line.data();
    const char* end = p + line.size();
    if (!take_literal(p, end, " Score = ") || p == end || *p == ' ' || *p == '=' || *p == ':') return false;
    // The bit score, up to a space within eight bytes.
    std::size_t bits_size = first_byte_of(load_eight(p), ' ');
    if (bits_size == 0 || bits_size == 8 || bits_size >= static_cast<std::size_t>(end - p)) return false;
    const char* bits = p;
    p += bits_size;
    if (!take_literal(p, end, " bits (")) return false;
    // The raw score: digits, then "),  Expect = ".
    std::uint64_t stops = non_digits(load_eight(p));
    std::size_t raw_size = stops == 0 ? 8 : lowest_bit(stops) / 8;
    if (raw_size == 0 || raw_size == 8 || raw_size >= static_cast<std::size_t>(end - p)) return false;
    const char* raw = p;
    p += raw_size;
    if (!take_literal(p, end, "),  Expect = ") || p == end || *p == ' ') return false;
    const char* value = p;
    while (p != end && *p != ' ' && *p != ',' && *p != ';') ++p;
    if (p == value) return false;  // no value: start_hsp says so
    hsp.bit_score.assign(std::string_view(bits, bits_size));
    hsp.raw_score.assign(std::string_view(raw, raw_size));
    set_evalue(hsp, std::string_view(value, static_cast<std::size_t>(p - value)));
    return true;
}

// "Query", but not "Query=" or "Query #", which begin a query.
bool is_query_alignment_line(const char* start) {
    return literal_at(start, "Query") && start[5] != '=' && !(start[5] == ' ' && start[6] == '#');
}

// The first two bytes of the only lines that matter between alignments:
// program lines (BLASTN, TBLASTN, PSIBLAST, RPSBLAST, DELTABLAST), "Query",
// "Database:", "Results from round", Score lines and subject titles.
bool may_matter_between_alignments(std::string_view line) {
    if (line.empty()) return false;
    if (line[0] == '>') return true;
    if (line.size() < 2) return false;
    switch (line[0]) {
        case 'B': return line[1] == 'L';
        case 'T': return line[1] == 'B';
        case 'P': return line[1] == 'S';
        case 'R': return line[1] == 'P' || line[1] == 'e';
        case 'D': return line[1] == 'E' || line[1] == 'a';
        case 'Q': return line[1] == 'u';
        case ' ': return line[1] == 'S';
        case 'S': return line[1] == 'c';
        default: return false;
    }
}

}  // namespace

LayoutReader::LayoutReader(std::string path, FieldWriter& writer, const Kernel& kernel)
    : path_(std::move(path)), writer_(writer), kernel_(kernel), keep_sequences_(writer.needs_sequences()) {}

void LayoutReader::fail(const std::string& message, std::uint64_t line_number) const {
    throw layout_failure(message, line_number);
}

void LayoutReader::start_program(std::string_view program_line, std::string_view name, std::uint64_t line_number) {
    if (place_ == Place::in_hsp) finish_hsp(line_number);
    finish_query();
    if (place_ != Place::before_program && place_ != Place::web_preamble) writer_.end_run(run_);
    run_ = Run();
    ++programs_read_;
    run_.program_line = std::string(trim(program_line));
    run_.kind = kind_of(name);
    run_.profiles = name == "RPSBLAST" || name == "RPSTBLASTN";
    // BLAST+ writes "2.12.0+", the web page "Program: BLASTN"; blastall a bare version.
    run_.legacy = run_.program_line.back() != '+' && run_.program_line.find(' ') != std::string::npos;
    place_ = Place::in_run;
}

void LayoutReader::start_query(std::string_view definition, std::uint64_t line_number) {
    if (place_ == Place::in_hsp) finish_hsp(line_number);
    finish_query();
    query_ = Query();
    query_.round = run_.round;
    append_wrapped(query_.definition, definition);
    query_open_ = true;
    ++run_.queries;
    writer_.begin_query(run_, query_);
}

void LayoutReader::finish_query() {
    if (!query_open_) return;
    writer_.end_query(run_, query_);
    query_open_ = false;
}

void LayoutReader::start_subject(std::string_view title) {
    subject_.reset();
    append_wrapped(subject_.title, title);
}

void LayoutReader::read_round(std::string_view line) {
    // psiblast: "Results from round 2" before each round's Query= line.
    std::string_view number = skip_spaces(line.substr(18));
    std::uint64_t round = 0;
    if (take_number(number, round)) run_.round = round;
}

void LayoutReader::start_hsp(std::string_view line, std::uint64_t line_number) {
    // A fresh record that keeps the room its strings had.
    hsp_.reset();
    hsp_line_number_ = line_number;
    awaiting_subject_line_ = false;
    if (read_usual_score(line, hsp_)) {
        place_ = Place::in_hsp;
        return;
    }
    // " Score = 1184 bits (641),  Expect = 0.0", " Score =  517 bits (261), Expect = e-146",
    // "Score:41.0 bits(44), Expect:0.33,", " Score = 180 bits (387), Expect(2) = 9e-91": read
    // in one pass, as every alignment has one.
    const char* p = line.data();
    const char* end = p + line.size();
    while (p != end && *p == ' ') ++p;
    p += 5;  // "Score", which the caller has seen
    while (p != end && (*p == ' ' || *p == '=' || *p == ':')) ++p;
    const char* bits = p;
    while (p != end && *p != ' ') ++p;
    hsp_.bit_score.assign(std::string_view(bits, static_cast<std::size_t>(p - bits)));
    while (p != end && *p == ' ') ++p;
    if (hsp_.bit_score.empty() || end - p < 4 || std::memcmp(p, "bits", 4) != 0) {
        fail("a Score line without a bit score", line_number);
    }
    p += 4;
    while (p != end && *p == ' ') ++p;
    if (p == end || *p != '(') fail("a Score line without a raw score", line_number);
    const char* raw = ++p;
    while (p != end && is_digit(*p)) ++p;
    if (p == raw || p == end || *p != ')') fail("a Score line without a raw score", line_number);
    hsp_.raw_score.assign(std::string_view(raw, static_cast<std::size_t>(p - raw)));
    std::string_view rest(p, static_cast<std::size_t>(end - p));
    // BLAST+ writes "),  Expect = " here; any other text is searched.
    bool usual = starts_with(rest, "),  Expect = ");
    std::size_t expect = usual ? 4 : find_text(rest, "Expect");
    std::size_t separator = usual ? 11 : expect == std::string_view::npos ? expect : find_separator(rest, expect);
    if (separator == std::string_view::npos) fail("a Score line without an Expect value", line_number);
    p = rest.data() + separator + 1;
    while (p != end && *p == ' ') ++p;
    const char* value = p;
    while (p != end && *p != ' ' && *p != ',' && *p != ';') ++p;
    if (p == value) fail("a Score line without an Expect value", line_number);
    set_evalue(hsp_, std::string_view(value, static_cast<std::size_t>(p - value)));
    place_ = Place::in_hsp;
}

const char* LayoutReader::read_alignment_line(const char* start, const char* text_end, bool is_query,
                                              std::uint64_t line_number, const MarkedLines& marked) {
    // Nearly every line of a report is one of these: read in one pass, the
    // residues' end and their gaps from the masks.
    AlignmentLine line;
    GapCount usual_gaps;
    bool usual = parse_usual_alignment_line(marked, start, text_end, true, line, usual_gaps);
    if (!usual && !parse_alignment_line(marked, start, text_end, line = AlignmentLine())) {
        fail(std::string("an alignment line that is not \"") + (is_query ? "Query" : "Sbjct") + " START RESIDUES END\"",
             line_number);
    }
    const char* residues_begin = line.residues_begin;
    const char* residues_end = line.residues_end;
    std::string_view residues(residues_begin, static_cast<std::size_t>(residues_end - residues_begin));
    if (hsp_.length == 0) fail("an alignment before its Identities line", line_number);
    if (is_query == awaiting_subject_line_) {
        fail(is_query ? "a Query line where its Sbjct line should be" : "a Sbjct line without its Query line",
             line_number);
    }
    if (!is_query && residues.size() != awaiting_subject_columns_) {
        fail("a Sbjct line whose residues do not line up with its Query line", line_number);
    }

    bool first_line = hsp_.aligned == 0;
    std::uint64_t& first = is_query ? hsp_.query_start : hsp_.subject_start;
    std::uint64_t& last = is_query ? hsp_.query_end : hsp_.subject_end;
    if (first_line) first = line.from;
    last = line.to;
    // An alignment whose Identities line counts no gaps needs no count of them.
    bool counted = !hsp_.has_gaps_line || hsp_.gaps != 0;
    GapCount gaps = usual || !counted ? usual_gaps : count_gaps(marked, residues_begin, residues_end);
    std::uint64_t line_gaps = add_gaps(line, gaps, is_query ? hsp_.query_in_gap : hsp_.subject_in_gap);
    if (is_query) hsp_.query_letters += residues.size() - line_gaps;
    if (keep_sequences_) {
        // Masked letters are lower case in the report, upper case in BLAST's table.
        std::string& sequence = is_query ? hsp_.query_sequence : hsp_.subject_sequence;
        for (char residue : residues) sequence += static_cast<char>(std::toupper(static_cast<unsigned char>(residue)));
    }
    if (is_query) {
        awaiting_subject_columns_ = residues.size();
        awaiting_subject_line_ = true;
    } else {
        hsp_.aligned += residues.size();
        awaiting_subject_line_ = false;
    }
    return line.end;
}

void LayoutReader::finish_hsp(std::uint64_t line_number) {
    place_ = Place::in_subject;
    if (hsp_.length == 0) fail("an alignment without its Identities line", hsp_line_number_);
    // The Identities line's length counts every column; in some legacy
    // reports it leaves out the gap columns.
    std::uint64_t stated_gaps = hsp_.has_gaps_line ? hsp_.gaps : hsp_.counted_gaps;
    bool complete = hsp_.aligned == hsp_.length || (run_.legacy && hsp_.aligned == hsp_.length + stated_gaps);
    if (awaiting_subject_line_ || !complete) {
        fail("the alignment that begins at line " + std::to_string(hsp_line_number_) + " ends after " +
                 std::to_string(hsp_.aligned) + " of its " + std::to_string(hsp_.length) + " columns",
             line_number);
    }
    if (!hsp_.has_gaps_line) hsp_.gaps = hsp_.counted_gaps;
    // Profile searches score against a profile: BLAST's table counts no
    // positives beyond the identities, whatever the report's Positives say.
    if (!hsp_.has_positives || run_.profiles) hsp_.positives = hsp_.identities;
    switch (run_.kind) {
        case SearchKind::nucleotide:
            hsp_.query_frame = 1;
            hsp_.subject_frame = hsp_.subject_minus ? -1 : 1;
            break;
        case SearchKind::protein: hsp_.query_frame = hsp_.subject_frame = 1; break;  // as BLAST+'s table has it
        case SearchKind::translated_query:
            if (!hsp_.has_frame_line) hsp_.query_frame = frame_from(hsp_.query_start, hsp_.query_end, query_.length);
            hsp_.subject_frame = 0;
            break;
        case SearchKind::translated_subject:
            if (!hsp_.has_frame_line) {
                hsp_.subject_frame = frame_from(hsp_.subject_start, hsp_.subject_end, subject_.length);
            }
            hsp_.query_frame = 0;
            break;
        case SearchKind::translated_both:
            if (!hsp_.has_frame_line) {
                hsp_.query_frame = frame_from(hsp_.query_start, hsp_.query_end, query_.length);
                hsp_.subject_frame = frame_from(hsp_.subject_start, hsp_.subject_end, subject_.length);
            }
            break;
    }
    writer_.row(run_, query_, subject_, hsp_);
}

void LayoutReader::read_hsp_line(std::string_view line, std::uint64_t line_number) {
    // BLAST+'s own lines first, each in one pass.
    if ((line.size() == 17 && literal_at(line.data(), " Strand=Plus/Plus")) ||
        (line.size() == 18 && literal_at(line.data(), " Strand=Plus/Minus"))) {
        hsp_.subject_minus = line.size() == 18;
        return;
    }
    if (read_usual_identities(line, hsp_)) return;
    std::string_view text = skip_spaces(line);
    bool identities_line = starts_with(text, "Identities");
    if (identities_line) {
        // "Identities = 192/194 (98%), Positives = ..., Gaps = 1/194 (0%)": each
        // figure after its label, the labels after commas, in one pass.
        for (std::string_view rest = text; !rest.empty();) {
            std::size_t comma = find_byte(rest, ',');
            std::string_view item = skip_spaces(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            std::uint64_t* part = nullptr;
            std::uint64_t whole = 0;
            std::uint64_t* whole_into = &whole;
            if (starts_with(item, "Identities")) {
                part = &hsp_.identities;
                whole_into = &hsp_.length;
            } else if (starts_with(item, "Positives")) {
                part = &hsp_.positives;
                hsp_.has_positives = true;
            } else if (starts_with(item, "Gaps")) {
                part = &hsp_.gaps;
                hsp_.has_gaps_line = true;
            } else {
                continue;  // "(98%)" after a web layout's comma, "Strand: ..."
            }
            std::size_t separator = find_separator(item);
            std::string_view figure = separator == std::string_view::npos ? item.substr(item.size())
                                                                          : skip_spaces(item.substr(separator + 1));
            bool read = take_number(figure, *part) && !figure.empty() && figure.front() == '/';
            if (read) figure.remove_prefix(1);
            if (!read || !take_number(figure, *whole_into)) {
                fail("an Identities line without \"N/LENGTH\"", line_number);
            }
        }
        if (hsp_.length == 0) fail("an Identities line without \"N/LENGTH\"", line_number);
    }
    if (starts_with(text, "Strand") || (identities_line && find_text(text, "Strand:") != std::string_view::npos)) {
        // "Strand=Plus/Minus", "Strand = Plus / Minus", "..., Strand: Plus/Minus"
        std::string_view strands = after_label(text, "Strand");
        std::size_t slash = find_byte(strands, '/');
        if (slash == std::string_view::npos) fail("a Strand line without \"QUERY/SUBJECT\"", line_number);
        std::string_view subject_strand = trim(strands.substr(slash + 1));
        hsp_.subject_minus = starts_with(subject_strand, "Minus");
    } else if (starts_with(text, "Frame")) {
        // "Frame = +2", "Frame = +1/-3", "Frame = +2 / +2"
        std::string_view frames = after_label(text, "Frame");
        int first = 0, second = 0;
        if (!take_frame(frames, first)) fail("a Frame line without a frame", line_number);
        frames = skip_spaces(frames);
        bool two = !frames.empty() && frames.front() == '/';
        if (two) {
            frames.remove_prefix(1);
            if (!take_frame(frames, second)) fail("a Frame line without its second frame", line_number);
        }
        switch (run_.kind) {
            case SearchKind::translated_subject: hsp_.subject_frame = two ? second : first; break;
            case SearchKind::translated_both:
                hsp_.query_frame = first;
                hsp_.subject_frame = two ? second : 0;
                break;
            default: hsp_.query_frame = first; break;
        }
        hsp_.has_frame_line = true;
    }
}

void LayoutReader::read_lines(PaddedView lines, std::uint64_t& line_number) {
    // Long runs are read in parts cut at line ends, so that a part's bytes
    // and marks are still in cache when its lines are read.
    constexpr std::size_t part_size = 128 * 1024;
    while (lines.size() > part_size) {
        const void* line_feed = std::memchr(lines.data() + part_size, '\n', lines.size() - part_size);
        if (line_feed == nullptr) break;
        auto size = static_cast<std::size_t>(static_cast<const char*>(line_feed) - lines.data()) + 1;
        read_part(lines.substr(0, size), line_number);
        lines = lines.substr(size);
    }
    read_part(lines, line_number);
}

void LayoutReader::read_part(PaddedView lines, std::uint64_t& line_number) {
    // One window more than the text has, zeroed, for marks_from.
    std::size_t windows = (lines.size() + 63) / 64;
    // Grown only: every mask the text needs is written below.
    if (masks_.size() < windows + 1) masks_.resize(windows + 1);
    kernel_.mark_alignment_bytes(lines, masks_.data());
    masks_[windows] = AlignmentMasks{0, 0, 0};
    MarkedLines marked{lines.data(), masks_.data()};
    const char* end = lines.data() + lines.size();
    for (const char* start = lines.data(); start < end;) {
        // A line of one space and a letter (Identities, Strand) is no
        // alignment line, blank line or midline.
        if (place_ == Place::in_hsp && (start[0] != ' ' || start[1] == ' ')) {
            start = read_alignment(start, end, line_number, marked);
            if (start >= end) break;
        }
        // A blank line changes nothing but inside a query's definition,
        // where it ends a word cut across lines.
        if (*start == '\n' && place_ != Place::query_definition) {
            ++start;
            ++line_number;
            continue;
        }
        const char* line_end = find_marked<&AlignmentMasks::line_feeds>(marked, start, end);
        std::string_view line(start, static_cast<std::size_t>(line_end - start));
        start = line_end + 1;
        ++line_number;
        // An alignment's Score, Identities and Strand lines go straight to
        // where read_line would send them.
        if (line.size() > 2 && line[0] == ' ') {
            if (place_ == Place::in_hsp && (line[1] == 'I' || (line[1] == 'S' && line[2] == 't'))) {
                read_hsp_line(line, line_number);
                continue;
            }
            if ((place_ == Place::in_subject || place_ == Place::in_hsp) && starts_with(line, " Score =")) {
                if (place_ == Place::in_hsp) finish_hsp(line_number);
                start_hsp(line, line_number);
                continue;
            }
        }
        // A subject's title, and the Length line after it, likewise.
        if (line[0] == '>' && (place_ == Place::in_query || place_ == Place::in_subject || place_ == Place::in_hsp)) {
            if (place_ == Place::in_hsp) finish_hsp(line_number);
            start_subject(line.substr(1));
            place_ = Place::subject_title;
            continue;
        }
        if (place_ == Place::subject_title && starts_with(line, "Length=")) {
            read_subject_length(trim(line), line_number);
            continue;
        }
        // Between alignments, the list of subjects and the statistics are
        // passed over on their first two bytes.
        if ((place_ == Place::in_query || place_ == Place::in_subject) && !may_matter_between_alignments(line)) {
            continue;
        }
        read_line(line, line_number);
    }
}

std::uint64_t LayoutReader::add_gaps(const AlignmentLine& line, const GapCount& gaps, bool& in_gap) {
    bool run_continues = in_gap;
    in_gap = false;
    if (hsp_.has_gaps_line && hsp_.gaps == 0) return 0;
    // A run that goes on from the line before opened there.
    hsp_.gap_opens += gaps.runs - (run_continues && *line.residues_begin == '-');
    in_gap = line.residues_end[-1] == '-';
    hsp_.counted_gaps += gaps.columns;
    return gaps.columns;
}

const char* LayoutReader::read_usual_blocks(const char* start, const char* end, std::uint64_t& line_number,
                                            const MarkedLines& marked) {
    // Only where the line-by-line reading would raise no failure and keep
    // no sequence.
    if (awaiting_subject_line_ || hsp_.length == 0 || keep_sequences_) return start;
    // The alignment's counts stay in registers while its blocks are read.
    bool gaps_counted = !hsp_.has_gaps_line || hsp_.gaps != 0;
    std::uint64_t aligned = hsp_.aligned, query_letters = hsp_.query_letters;
    std::uint64_t gap_opens = hsp_.gap_opens, counted_gaps = hsp_.counted_gaps;
    bool query_in_gap = hsp_.query_in_gap, subject_in_gap = hsp_.subject_in_gap;
    // The last block's ends, as the bytes that write them.
    std::uint64_t query_end_digits = 0, subject_end_digits = 0;
    std::size_t query_end_size = 1, subject_end_size = 1;
    std::uint64_t lines_read = 0;
    const char* begin = marked.begin;
    auto at = static_cast<std::size_t>(start - begin);
    LineFeeds line_feeds(marked, at, static_cast<std::size_t>(end - begin));
    std::size_t line_end = line_feeds.next();
    while (line_end != LineFeeds::none && literal_at(begin + at, "Query ")) {
        // Query line, midline, Sbjct line: three line ends.
        std::size_t midline_end = line_feeds.next();
        std::size_t subject_end = line_feeds.next();
        std::size_t midline = line_end + 1, subject_at = midline_end + 1;
        if (subject_end == LineFeeds::none || begin[midline] != ' ' || begin[midline + 1] != ' ' ||
            !literal_at(begin + subject_at, "Sbjct ")) {
            break;
        }
        UsualLine query, subject;
        if (!read_usual_line(marked, at, line_end, query) ||
            !read_usual_line(marked, subject_at, subject_end, subject) || query.columns != subject.columns) {
            break;
        }
        if (aligned == 0) {
            hsp_.query_start = digits_value(query.start_digits, query.start_size);
            hsp_.subject_start = digits_value(subject.start_digits, subject.start_size);
        }
        query_end_digits = query.end_digits;
        query_end_size = query.end_size;
        subject_end_digits = subject.end_digits;
        subject_end_size = subject.end_size;
        std::uint64_t columns = query.columns;
        if (gaps_counted) {
            std::uint64_t query_gaps = add_usual_gaps(marked, query, query_in_gap, gap_opens);
            counted_gaps += query_gaps + add_usual_gaps(marked, subject, subject_in_gap, gap_opens);
            query_letters += columns - query_gaps;
        } else {
            query_letters += columns;
        }
        aligned += columns;
        lines_read += 3;
        // Then blank lines, up to the next line's end.
        at = subject_end + 1;
        line_end = line_feeds.next();
        while (line_end == at) {
            ++lines_read;
            ++at;
            line_end = line_feeds.next();
        }
    }
    if (lines_read == 0) return start;
    hsp_.aligned = aligned;
    hsp_.query_letters = query_letters;
    hsp_.gap_opens = gap_opens;
    hsp_.counted_gaps = counted_gaps;
    hsp_.query_end = digits_value(query_end_digits, query_end_size);
    hsp_.subject_end = digits_value(subject_end_digits, subject_end_size);
    hsp_.query_in_gap = query_in_gap;
    hsp_.subject_in_gap = subject_in_gap;
    line_number += lines_read;
    return begin + at;
}

const char* LayoutReader::read_alignment(const char* start, const char* end, std::uint64_t& line_number,
                                         const MarkedLines& marked) {
    // Inside an alignment, nearly every line is blank, a midline or an
    // alignment line, decided on its first bytes; an alignment line's end
    // is found as it is read.
    while (start < end) {
        if (*start == '\n') {
            ++line_number;
            ++start;
        } else if (is_query_alignment_line(start) || literal_at(start, "Sbjct")) {
            if (start[0] == 'Q') {
                const char* after_blocks = read_usual_blocks(start, end, line_number, marked);
                if (after_blocks != start) {
                    start = after_blocks;
                    continue;
                }
            }
            ++line_number;
            start = read_alignment_line(start, end, start[0] == 'Q', line_number, marked) + 1;
        } else if (start[0] == ' ' && start[1] == ' ') {  // a midline
            ++line_number;
            start = find_marked<&AlignmentMasks::line_feeds>(marked, start, end) + 1;
        } else {
            break;
        }
    }
    return start;
}

void LayoutReader::read_subject_length(std::string_view text, std::uint64_t line_number) {
    text.remove_prefix(text[6] == '=' ? 7 : 8);
    text = skip_spaces(text);
    if (!take_number(text, subject_.length)) fail("a subject length that is not a number", line_number);
    assign_first_word(subject_.id, subject_.title);
    if (run_.profiles) {
        // Profile databases always name their entries: the title is what follows.
        std::string_view title = subject_.title;
        title = skip_spaces(title);
        take_word(title);
        subject_.title = std::string(skip_spaces(title));
    }
    place_ = Place::in_subject;
}

// Any line the quick tests in read_lines leave.
void LayoutReader::read_line(std::string_view line, std::uint64_t line_number) {
    std::string_view name;
    if (is_program_line(line, name)) {
        start_program(line, name, line_number);
        return;
    }
    switch (place_) {
        case Place::before_program:
            if (trim(line).empty()) return;
            if (starts_with(line, "RID:")) {
                place_ = Place::web_preamble;
                return;
            }
            if (starts_with(line, "Program:") && is_known_program(trim(line.substr(8)))) {
                std::string_view program = trim(line.substr(8));
                start_program(program, program, line_number);
                return;
            }
            fail("not a BLAST text report: it begins with \"" + shown(line) + "\"", line_number);
        case Place::web_preamble:
            if (starts_with(line, "Program:") && is_known_program(trim(line.substr(8)))) {
                std::string_view program = trim(line.substr(8));
                start_program(program, program, line_number);
            } else if (!starts_with(line, "Job Title:") && !trim(line).empty()) {
                fail("not a BLAST text report: a web report without its \"Program:\" line", line_number);
            }
            return;
        default: break;
    }

    if (starts_with(line, "Query= ") || line == "Query=") {
        start_query(line.substr(6), line_number);
        definition_line_cut_ = is_cut_word(trim(line.substr(6)));
        place_ = Place::query_definition;
        return;
    }
    if (starts_with(line, "Query #")) {
        // "Query #1: DEFINITION Query ID: ID Length: 239"
        std::size_t colon = line.find(": ");
        std::size_t id_at = line.rfind(" Query ID: ");
        std::size_t length_at = line.rfind(" Length: ");
        if (colon == std::string_view::npos || id_at == std::string_view::npos || length_at == std::string_view::npos ||
            length_at < id_at) {
            fail("a \"Query #\" line without its Query ID and Length", line_number);
        }
        start_query(line.substr(colon + 2, id_at - colon - 2), line_number);
        // The page names sequences by accession.version, as BLAST's own
        // tables do: "gb|WXX52402.1" is WXX52402.1, "lcl|Query_78041" Query_78041.
        std::string_view id = trim(line.substr(id_at + 11, length_at - id_at - 11));
        std::size_t bar = id.find_last_of('|', id.size() > 1 ? id.size() - 2 : 0);
        if (bar != std::string_view::npos && bar + 1 < id.size()) id.remove_prefix(bar + 1);
        if (!id.empty() && id.back() == '|') id.remove_suffix(1);
        query_.id = std::string(id);
        std::string_view length = trim(line.substr(length_at + 9));
        if (!take_number(length, query_.length)) fail("a query length that is not a number", line_number);
        place_ = Place::in_query;
        return;
    }
    if (starts_with(line, "Database: ") && (place_ == Place::in_run || place_ == Place::in_query)) {
        std::string_view database = trim(line.substr(10));
        // "User specified sequence set (Input: s.fa).": subjects given with -subject.
        run_.subjects_given = starts_with(database, "User specified sequence set");
        if (run_.subjects_given && !database.empty() && database.back() == '.') database.remove_suffix(1);
        run_.database = std::string(database);
        return;
    }

    switch (place_) {
        case Place::query_definition: {
            std::string_view text = trim(line);
            std::uint64_t length = 0;
            if (starts_with(text, "Length=")) {
                text.remove_prefix(7);
                if (!take_number(text, length)) fail("a query length that is not a number", line_number);
            } else if (!text.empty() && text.front() == '(' &&
                       text.find(" letters)") != std::string_view::npos) {  // legacy: "(285 letters)"
                text.remove_prefix(1);
                std::string_view digits = text.substr(0, text.find(' '));
                std::string plain;
                for (char c : digits) {
                    if (c != ',') plain += c;
                }
                std::string_view number_text = plain;
                if (!take_number(number_text, length)) fail("a query length that is not a number", line_number);
            } else {
                // BLAST wraps a definition at spaces into lines of at most 68
                // characters, and cuts a longer word into full lines without
                // a space: such a line continues on the next.
                if (definition_line_cut_) {
                    query_.definition += text;
                } else {
                    append_wrapped(query_.definition, text);
                }
                definition_line_cut_ = is_cut_word(text);
                return;
            }
            query_.length = length;
            if (query_.id.empty()) assign_first_word(query_.id, query_.definition);
            place_ = Place::in_query;
            return;
        }
        case Place::before_program:
        case Place::web_preamble: return;
        default: break;
    }

    if (!line.empty() && line.front() == '>') {
        if (place_ == Place::in_hsp) finish_hsp(line_number);
        if (place_ == Place::web_more_titles) return;  // a further title of the same subject
        if (place_ == Place::in_run) fail("a subject before any query", line_number);
        start_subject(line.substr(1));
        place_ = Place::subject_title;
        return;
    }

    if (place_ == Place::subject_title) {
        std::string_view text = trim(line);
        if (starts_with(text, "Length=") || starts_with(text, "Length =")) {
            read_subject_length(text, line_number);
        } else if (starts_with(text, "Sequence ID: ")) {
            // web: "Sequence ID: WP_003221446.1 Length: 239"
            std::size_t length_at = text.rfind(" Length: ");
            if (length_at == std::string_view::npos) fail("a Sequence ID line without its Length", line_number);
            subject_.id = std::string(trim(text.substr(13, length_at - 13)));
            std::string_view length = trim(text.substr(length_at + 9));
            if (!take_number(length, subject_.length)) fail("a subject length that is not a number", line_number);
            place_ = Place::web_more_titles;
        } else {
            append_wrapped(subject_.title, text);
        }
        return;
    }
    if (place_ == Place::web_more_titles) {
        if (starts_with(line, "Range ")) place_ = Place::in_subject;
        return;  // further titles and IDs of sequences identical to the first
    }

    bool score_line = starts_with(line, " Score =") || starts_with(line, "Score:") || starts_with(line, " Score:");
    if (place_ == Place::in_hsp) {
        if (score_line || starts_with(line, "Range ")) {
            finish_hsp(line_number);
        } else if (starts_with(line, "Lambda") || starts_with(line, "  Database:") ||
                   starts_with(line, "Effective search space") || starts_with(line, "Results from round")) {
            finish_hsp(line_number);
            if (starts_with(line, "Results from round")) read_round(line);
            return;
        } else {
            read_hsp_line(line, line_number);
            return;
        }
    }
    if (starts_with(line, "Results from round")) {
        read_round(line);
        return;
    }
    if (score_line) {
        if (place_ != Place::in_subject) fail("a Score line outside any subject", line_number);
        start_hsp(line, line_number);
    }
}

void LayoutReader::end_last_query(std::uint64_t last_line_number) {
    if (place_ == Place::query_definition) {
        fail("the report ends inside the definition of the query", last_line_number);
    }
    if (place_ == Place::subject_title) fail("the report ends inside the title of a subject", last_line_number);
    if (place_ == Place::in_hsp) finish_hsp(last_line_number);
    finish_query();
}

void LayoutReader::finish(std::uint64_t last_line_number) {
    end_last_query(last_line_number);
    if (place_ != Place::before_program && place_ != Place::web_preamble) writer_.end_run(run_);
}

void LayoutReader::end_before_query(std::uint64_t line_number) {
    if (place_ == Place::in_hsp) finish_hsp(line_number);
    finish_query();
}

void LayoutReader::assume(const Run& run) {
    run_ = run;
    run_.queries = 0;
    place_ = Place::in_run;
    query_open_ = false;
    programs_read_ = 0;
}

bool LayoutReader::continues_with(const Run& run) const {
    return knows_run() && !query_open_ && place_ != Place::in_hsp && run_.program_line == run.program_line &&
           run_.kind == run.kind && run_.database == run.database && run_.legacy == run.legacy &&
           run_.profiles == run.profiles && run_.subjects_given == run.subjects_given && run_.round == run.round;
}

void LayoutReader::go_on_after(const LayoutReader& piece) {
    std::uint64_t queries = run_.queries + piece.run_.queries;
    run_ = piece.run_;
    run_.queries = queries;
    place_ = piece.place_;
    query_open_ = piece.query_open_;
}

}  // namespace hittab::hsptab
