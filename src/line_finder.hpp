// The search for the lines that matter. The scanner reads only lines that
// begin with ">" or with a space followed by "S" or "I" (" Score = ",
// " Strand=", " Identities = "); everything else, alignment lines above all,
// is skipped here at vector speed while the line ends are counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hittab {

// Readable bytes the search may touch before `position` and after `end`
// (it reads whole aligned 64-byte windows).
inline constexpr std::size_t finder_overread_before = 64;
inline constexpr std::size_t finder_overread_after = 64;

struct CandidateLine {
    std::string_view text;  // the line, with its LF if it has one
    std::uint64_t line_number;
};

// Finds the lines in [position, end) that may be read by the scanner: those
// that begin with '>', or with ' ' followed by 'S' or 'I'. `position` must
// begin the line numbered `line_number`. Stores at most `capacity` lines, in
// order, and returns how many it stored; `position` and `line_number` then
// name the line after the last one stored, or `end` and the number the next
// line would have when the text is used up.
std::size_t find_candidate_lines(const char*& position, const char* end, std::uint64_t& line_number,
                                 CandidateLine* lines, std::size_t capacity);

// The portable search, and the AVX2 one where the compiler and processor
// offer it; both give the same results, which the tests hold them to.
std::size_t find_candidate_lines_portable(const char*& position, const char* end, std::uint64_t& line_number,
                                          CandidateLine* lines, std::size_t capacity);
std::size_t find_candidate_lines_avx2(const char*& position, const char* end, std::uint64_t& line_number,
                                      CandidateLine* lines, std::size_t capacity);
bool avx2_available();

}  // namespace hittab
