// Words and numbers of the few short lines the layout reader reads for each
// query, subject and alignment: plain loops, cheaper there than a library
// call each.
//
// Whitespace here is what BLAST itself puts between words, C's isspace
// without the line feed, which never lies inside a line: space, tab, CR,
// VT and FF. The kernels' ten whitespace bytes (0x1C to 0x1F besides) are
// hittab's, which splits title lines as its users' scripts split them;
// hsptab's words follow BLAST's, so the two sets stay apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bits.hpp"

namespace hittab::hsptab {

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

// Whether `text` ends with the literal `suffix`.
template <std::size_t size>
bool ends_with(std::string_view text, const char (&suffix)[size]) {
    return text.size() >= size - 1 && text.substr(text.size() - (size - 1)) == std::string_view(suffix, size - 1);
}

// ' ', '\t', '\r', '\v' and '\f', as bits: titles and words are scanned byte by byte.
inline bool is_space(char c) {
    constexpr std::uint64_t spaces = std::uint64_t{1} << ' ' | std::uint64_t{1} << '\t' | std::uint64_t{1} << '\r' |
                                     std::uint64_t{1} << '\v' | std::uint64_t{1} << '\f';
    auto byte = static_cast<unsigned char>(c);
    return byte <= ' ' && (spaces >> byte & 1) != 0;
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline std::string_view skip_spaces(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    return text;
}

inline std::string_view trim(std::string_view text) {
    text = skip_spaces(text);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

// The leading digits of `text` as a number, removed from it; false when
// there are none (or too many to be a coordinate).
inline bool take_number(std::string_view& text, std::uint64_t& number) {
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
// bytes at a time: only a byte below 0x21 can be whitespace, and the first
// of those is found exactly.
inline std::string_view take_word(std::string_view& text) {
    std::size_t size = 0;
    for (; size + 8 <= text.size(); size += 8) {
        std::uint64_t low = first_below_0x21(load_eight(text.data() + size));
        if (low != 0) {
            size += lowest_bit(low) / 8;
            break;
        }
    }
    while (size < text.size() && !is_space(text[size])) ++size;
    std::string_view word = text.substr(0, size);
    text.remove_prefix(size);
    return word;
}

inline std::size_t find_byte(std::string_view text, char byte, std::size_t from = 0) {
    for (std::size_t at = from; at < text.size(); ++at) {
        if (text[at] == byte) return at;
    }
    return std::string_view::npos;
}

// The first '=' or ':' from `from` on.
inline std::size_t find_separator(std::string_view text, std::size_t from = 0) {
    for (std::size_t at = from; at < text.size(); ++at) {
        if (text[at] == '=' || text[at] == ':') return at;
    }
    return std::string_view::npos;
}

inline std::size_t find_text(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return std::string_view::npos;
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        if (text[at] == word[0] && text.compare(at, word.size(), word) == 0) return at;
    }
    return std::string_view::npos;
}

// The text after `label` and the separator that follows it ('=' or ':',
// with spaces around), or empty text when `label` is not in `line`.
inline std::string_view after_label(std::string_view line, std::string_view label) {
    std::size_t at = find_text(line, label);
    if (at == std::string_view::npos) return std::string_view();
    std::string_view rest = line.substr(at + label.size());
    std::size_t separator = find_separator(rest);
    if (separator == std::string_view::npos) return std::string_view();
    return skip_spaces(rest.substr(separator + 1));
}

// Joins a wrapped line to the text before it, words separated by one space.
// BLAST writes a tab of a title as three spaces (makeblastdb stores it so),
// and so does this: a table row never holds a tab inside a value.
inline void append_wrapped(std::string& text, std::string_view line) {
    line = trim(line);
    if (line.empty()) return;
    while (!text.empty() && is_space(text.back())) text.pop_back();
    if (!text.empty()) text += ' ';
    std::size_t kept = text.size();
    text += line;
    for (std::size_t tab = text.find('\t', kept); tab != std::string::npos; tab = text.find('\t', tab + 3)) {
        text.replace(tab, 1, "   ");
    }
}

// "Length=239" (BLAST+) or "Length = 239" (blastall), trimmed: a subject's
// length line, if the blank line after it comes next.
inline bool is_length_line(std::string_view text) {
    if (starts_with(text, "Length=")) {
        text.remove_prefix(7);
    } else if (starts_with(text, "Length =")) {
        text.remove_prefix(8);
        text = skip_spaces(text);
    } else {
        return false;
    }
    std::uint64_t length = 0;
    return take_number(text, length) && text.empty();
}

// `text` in place of what `into` held, in the room it has: a plain append,
// cheaper than a general assignment.
inline void copy_into(std::string& into, std::string_view text) {
    into.clear();
    into.append(text.data(), text.size());
}

// Keeps the room `word` has, as a new subject's ID replaces the last one's.
inline void assign_first_word(std::string& word, std::string_view text) {
    text = skip_spaces(text);
    copy_into(word, take_word(text));
}

}  // namespace hittab::hsptab
