// How the lines that matter between alignments begin: one table, from
// which the layout reader takes a line's kind and the filter that passes
// over the other lines between alignments is made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "text_words.hpp"

namespace hittab::hsptab {

// The lines that matter between alignments, by how they begin. The
// dispatch takes a line's kind from here, and the filter that passes over
// the lines between alignments is made from the first two bytes of each
// entry, so that no kind of line is known to one and not to the other.
enum class LineKind : unsigned char {
    other,
    program,
    query,
    query_number,
    database,
    round,
    subject_title,
    score,
    lambda,     // "Lambda", among the statistics after a query's alignments
    matrix,     // "Matrix:", which BLAST+ writes once, last in a run
    summary,    // "Sequences producing significant alignments", over the list of subjects
    reference,  // "Reference", which BLAST+ cites its papers with before the first query
    pattern,    // PHI-BLAST's "Significant alignments for pattern occurrence 2 at position 28"
};

struct LineStart {
    std::string_view prefix;
    LineKind kind;
};

constexpr LineStart line_starts[] = {
    {"BLASTN", LineKind::program},
    {"BLASTP", LineKind::program},
    {"BLASTX", LineKind::program},
    {"TBLASTN", LineKind::program},
    {"TBLASTX", LineKind::program},
    {"PSIBLAST", LineKind::program},
    {"RPSBLAST", LineKind::program},
    {"RPSTBLASTN", LineKind::program},
    {"DELTABLAST", LineKind::program},
    {"PHIBLASTP", LineKind::program},  // psiblast -phi_pattern
    {"PHIBLASTN", LineKind::program},
    {"Query=", LineKind::query},  // "Query= DEFINITION", or a bare "Query="
    {"Query #", LineKind::query_number},
    {"Database: ", LineKind::database},
    {"Results from round", LineKind::round},
    {">", LineKind::subject_title},
    {" Score =", LineKind::score},
    {" Score:", LineKind::score},
    {"Score:", LineKind::score},
    {"Lambda", LineKind::lambda},
    {"Matrix:", LineKind::matrix},
    {"Sequences producing significant alignments", LineKind::summary},
    {"Reference", LineKind::reference},
    {"Significant alignments for pattern occurrence", LineKind::pattern},
};

// For each first byte, the second bytes that some entry of line_starts
// begins with; a one-byte entry takes every second byte, and a line of
// that one byte.
struct FirstTwoBytes {
    std::array<std::uint8_t, 256> set_of{};                       // 0: no entry begins with the byte
    std::array<std::array<std::uint64_t, 4>, 16> second_bytes{};  // set 0 stays empty
    std::array<bool, 256> alone{};
    std::size_t sets = 1;
};

constexpr FirstTwoBytes first_two_bytes() {
    FirstTwoBytes table;
    for (const LineStart& start : line_starts) {
        auto first = static_cast<unsigned char>(start.prefix[0]);
        if (table.set_of[first] == 0) table.set_of[first] = static_cast<std::uint8_t>(table.sets++);
        auto& second = table.second_bytes[table.set_of[first]];
        if (start.prefix.size() == 1) {
            table.alone[first] = true;
            for (std::uint64_t& word : second) word = ~std::uint64_t{0};
        } else {
            auto byte = static_cast<unsigned char>(start.prefix[1]);
            second[byte / 64] |= std::uint64_t{1} << byte % 64;
        }
    }
    return table;
}

inline constexpr FirstTwoBytes filter = first_two_bytes();
static_assert(filter.sets <= std::tuple_size<decltype(filter.second_bytes)>::value,
              "a set of second bytes for every first byte of line_starts");

// Whether `line` may be one of line_starts, from its first two bytes.
inline bool may_matter_between_alignments(std::string_view line) {
    if (line.empty()) return false;
    auto first = static_cast<unsigned char>(line[0]);
    if (line.size() == 1) return filter.alone[first];
    auto second = static_cast<unsigned char>(line[1]);
    return (filter.second_bytes[filter.set_of[first]][second / 64] >> second % 64 & 1) != 0;
}

// The entries of line_starts by first byte, each byte's in table order: a
// line is compared only with the entries that begin as it does.
struct EntriesByFirstByte {
    std::array<std::uint8_t, std::size(line_starts)> entries{};
    std::array<std::uint8_t, 257> begin{};  // entries[begin[b]] to entries[begin[b + 1]] begin with b
};

constexpr EntriesByFirstByte entries_by_first_byte() {
    EntriesByFirstByte table;
    std::size_t next = 0;
    for (std::size_t byte = 0; byte < 256; ++byte) {
        table.begin[byte] = static_cast<std::uint8_t>(next);
        for (std::size_t i = 0; i < std::size(line_starts); ++i) {
            if (static_cast<unsigned char>(line_starts[i].prefix[0]) == byte) {
                table.entries[next++] = static_cast<std::uint8_t>(i);
            }
        }
    }
    table.begin[256] = static_cast<std::uint8_t>(next);
    return table;
}

inline constexpr EntriesByFirstByte by_first_byte = entries_by_first_byte();

inline LineKind kind_of_line(std::string_view line) {
    if (!may_matter_between_alignments(line)) return LineKind::other;
    auto first = static_cast<unsigned char>(line[0]);
    for (std::size_t at = by_first_byte.begin[first]; at < by_first_byte.begin[first + 1]; ++at) {
        const LineStart& start = line_starts[by_first_byte.entries[at]];
        if (line.substr(0, start.prefix.size()) == start.prefix) return start.kind;
    }
    return LineKind::other;
}

inline bool is_known_program(std::string_view word) {
    for (const LineStart& start : line_starts) {
        if (start.kind == LineKind::program && word == start.prefix) return true;
    }
    return false;
}

// "BLASTN 2.12.0+", "BLASTP 2.0.10 [Aug-26-1999]": a program's name, a
// space, a version. Gives the name.
inline bool is_program_line(std::string_view line, std::string_view& name) {
    std::string_view rest = line.substr(0, 12);
    std::string_view word = take_word(rest);
    if (rest.size() < 2 || rest[0] != ' ' || !is_digit(rest[1])) return false;
    if (!is_known_program(word)) return false;
    name = word;
    return true;
}

}  // namespace hittab::hsptab
