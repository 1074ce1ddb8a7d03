// The byte kernels: the searches that touch every byte of a report, done 64
// bytes at a time. Each instruction set supplies only the
// primitives (for one 64-byte window, the bit masks of line feeds, spaces,
// '>' and whitespace); the window loops over them are written once
// (window_algorithms.inl) and compiled once per instruction set. The kernel
// is chosen once, from the processor's features, on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "padded_text.hpp"

namespace hittab {

struct CandidateLine {
    PaddedView text;  // the line, with its LF if it has one
    std::uint64_t line_number;
};

// Bit i of each mask stands for byte i of a 64-byte window.
struct WindowMasks {
    std::uint64_t line_feeds;
    std::uint64_t spaces;
    std::uint64_t greater_thans;
    std::uint64_t whitespace;  // space, tab, LF, VT, FF, CR and 0x1C to 0x1F

    bool operator==(const WindowMasks& other) const {
        return line_feeds == other.line_feeds && spaces == other.spaces && greater_thans == other.greater_thans &&
               whitespace == other.whitespace;
    }
};

// The masks that cut a line of one 64-byte window into tokens, and find
// the '=' of every "length=" tag in it.
struct TokenMasks {
    std::uint64_t whitespace;
    std::uint64_t equals_signs;
};

// hsptab's masks of one 64-byte window: enough to cut lines and to read an
// alignment line (its residues end at a space, its gaps are dashes).
struct AlignmentMasks {
    std::uint64_t line_feeds;
    std::uint64_t spaces;
    std::uint64_t dashes;
};

struct Kernel {
    const char* name;

    // Finds the lines at the start of `text` that the scanner may read: those
    // that begin with '>', or with ' ' followed by 'S' or 'I'; everything
    // else, alignment lines above all, is skipped while line ends are
    // counted. `text` must begin the line numbered `line_number`. Stores at
    // most `capacity` lines, in order, and returns how many it stored; `text`
    // and `line_number` then hold the rest after the last line stored (all
    // of it used up when fewer than `capacity` were found).
    std::size_t (*find_candidate_lines)(PaddedView& text, std::uint64_t& line_number, CandidateLine* lines,
                                        std::size_t capacity);

    // Cuts `text` into tokens at whitespace, however much (every other byte, NUL
    // and bytes from 0x80 included, is part of a token). Stores at most
    // `max_tokens` and returns how many it stored.
    std::size_t (*tokenise)(PaddedView text, std::string_view* tokens, std::size_t max_tokens);

    // The masks of every 64-byte window of `text`, the k-th window starting
    // at byte 64k of it, into masks[0] up to masks[(size + 63) / 64 - 1];
    // bits past the end of `text` are clear.
    void (*mark_alignment_bytes)(PaddedView text, AlignmentMasks* masks);

    // The primitives themselves, for one window of 64 readable bytes.
    WindowMasks (*classify)(const char* window);
    // classify's whitespace mask and the window's '=' bytes, for lines short
    // enough to be cut into tokens from one window.
    TokenMasks (*mark_token_bytes)(const char* window);
};

// The fastest kernel this processor runs, chosen on the first call.
const Kernel& best_kernel();

// Every kernel the project has, in order: portable, avx2, neon. `kernel` is
// null when this build or this processor cannot run it, and `why_not` says why.
struct KernelAvailability {
    const char* name;
    const Kernel* kernel;
    const char* why_not;
};
std::vector<KernelAvailability> every_kernel();

}  // namespace hittab
