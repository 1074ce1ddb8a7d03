// The search for the lines that matter. The scanner reads only lines that
// begin with ">" or with a space followed by "S" or "I" (" Score = ",
// " Strand=", " Identities = "); everything else, alignment lines above all,
// is skipped here at vector speed while the line ends are counted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hittab {

// Readable bytes the search may touch before `line_start` and after `end`
// (it reads whole aligned 64-byte windows).
inline constexpr std::size_t finder_overread_before = 64;
inline constexpr std::size_t finder_overread_after = 64;

// Returns the first line at or after `line_start` (which begins a line) that
// may be read by the scanner, or `end` if there is none; `line_number` is
// advanced by the number of line ends passed on the way. A line "may be read"
// when it begins with '>', or with ' ' followed by 'S' or 'I' within
// [line_start, end).
const char* find_candidate_line(const char* line_start, const char* end, std::uint64_t& line_number);

// The first LF at or after `line_start`, or `end` if there is none.
const char* find_line_end(const char* line_start, const char* end);

// The portable search, and the AVX2 one where the compiler and processor
// offer it; both give the same results, which the tests hold them to.
const char* find_candidate_line_portable(const char* line_start, const char* end, std::uint64_t& line_number);
bool avx2_available();
const char* find_candidate_line_avx2(const char* line_start, const char* end, std::uint64_t& line_number);
const char* find_line_end_portable(const char* line_start, const char* end);
const char* find_line_end_avx2(const char* line_start, const char* end);

}  // namespace hittab
