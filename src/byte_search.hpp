// Vector searches over report bytes. The scanner reads only lines that
// begin with ">" or with a space followed by "S" or "I" (" Score = ",
// " Strand=", " Identities = "); everything else, alignment lines above all,
// is skipped here at vector speed while the line ends are counted. The
// scanner's tokeniser classifies whitespace here 64 bytes at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hittab {

// Readable bytes the searches may touch before and after the text they are
// given: they read whole 64-byte windows. Every buffer of report text keeps
// this much room on both sides.
inline constexpr std::size_t text_padding = 64;

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

// Bit i is set when byte i of the 64 bytes from `p` is whitespace: space,
// tab, LF, VT, FF, CR or 0x1C to 0x1F. Reads all 64 bytes.
std::uint64_t whitespace_bits(const char* p);
std::uint64_t whitespace_bits_portable(const char* p);
std::uint64_t whitespace_bits_avx2(const char* p);

}  // namespace hittab
