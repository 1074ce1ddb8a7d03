// The lines of an alignment's header, each read into its Hsp: the Score
// line, the Identities line, the Strand and Frame lines. Each reader gives
// the words of the failure when the line breaks the layout, or nullptr.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hsp.hpp"

namespace hittab::hsptab {

// Whether the quick readers of BLAST+'s usual lines (and the quick sorting
// of lines between them) go first, handing what they do not read to the
// general readers. The tests turn them off to run every case through the
// general readers alone; nothing else changes it, and only before reading.
inline bool quick_readers_first = true;

// " Score = 349 bits (194),  Expect = 7e-87" and the other layouts' forms:
// the bit score, the raw score and the E-value. `line` lies in padded text.
const char* read_score_line(std::string_view line, Hsp& hsp);

// Any line after the Score line that is no alignment line: the Identities,
// Strand and Frame lines are read (a frame as `kind` places it), any other
// is passed over. `line` lies in padded text.
const char* read_hsp_line(std::string_view line, SearchKind kind, Hsp& hsp);

// Where what an alignment's lines state contradicts itself, the words of the
// failure, or nothing: counts that do not fit its columns, coordinates that
// do not span its residues (as `kind` translates them) or lie past the end
// of their sequence (a length of 0 is one the report does not give).
std::string contradiction(const Hsp& hsp, SearchKind kind, std::uint64_t query_length, std::uint64_t subject_length);

// What the rows need that the report leaves out once the alignment is read:
// the gaps where no Identities line counts them, the positives where none
// are given (or where a profile makes them meaningless), and the frames
// (from the coordinates where no Frame line gives them).
void settle_hsp(Hsp& hsp, const Run& run, std::uint64_t query_length, std::uint64_t subject_length);

}  // namespace hittab::hsptab
