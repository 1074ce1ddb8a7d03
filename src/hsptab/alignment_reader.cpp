#include "alignment_reader.hpp"

#include <string>
#include <string_view>

#include "bits.hpp"
#include "failure.hpp"
#include "hsp_lines.hpp"
#include "text_words.hpp"

namespace hittab::hsptab {

namespace {

struct GapCount {
    std::uint64_t columns = 0;   // dashes
    std::uint64_t openings = 0;  // dashes that follow no dash; one at the residues' start always counts
};

// "Query  1    ACGT-ACGT  8", "Sbjct: 201 ACGTTACGT 209": a label of five
// letters, an optional colon, the start, the residues, the end.
struct AlignmentLine {
    std::uint64_t from = 0, to = 0;
    const char* residues_begin = nullptr;
    const char* residues_end = nullptr;
    const char* end = nullptr;  // the line's end: its line feed, or the end of the text
    bool only_gaps = false;     // residues that are all gaps, without coordinates
};

// "Sbjct       ----------  ": where a gap fills a whole line, BLAST writes
// no coordinates. `p` is past the spaces after the line's name.
bool parse_line_of_gaps(const MarkedLines& marked, const char* p, const char* text_end, AlignmentLine& line) {
    const char* residues_end = find_space_or_line_end(marked, p, text_end);
    if (residues_end == p) return false;
    for (const char* at = p; at < residues_end; ++at) {
        if (*at != '-') return false;
    }
    const char* after = residues_end;
    while (after < text_end && is_space(*after) && *after != '\n') ++after;
    if (after != text_end && *after != '\n') return false;
    line.residues_begin = p;
    line.residues_end = residues_end;
    line.end = after;
    line.only_gaps = true;
    return true;
}

// A usual alignment line as read_usual_line finds it: its numbers as the
// bytes that write them, made into numbers only where they are kept.
struct UsualLine {
    std::uint64_t start_digits = 0, end_digits = 0;
    std::size_t start_size = 1, end_size = 1;
    std::size_t residues_at = 0;  // offset in the marked lines
    std::size_t columns = 0;      // below 64
};

// The usual BLAST+ alignment line from offset `at` to its line feed at
// `line_end`, both in the marked lines: a label of five letters and a space
// (which the caller has seen), spaces, the start, spaces, the residues (at
// most 63), spaces and the end (at most seven digits), all from the masks.
// False for any other shape, which parse_alignment_line reads; where this
// reads a line, that reads the same. Inlined into both callers: a call
// costs much of what the line takes.
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

// The dashes of a usual line's residues, which lie in one 64-byte span.
inline std::uint64_t usual_dashes(const MarkedLines& marked, const UsualLine& line) {
    std::uint64_t inside = (std::uint64_t{1} << line.columns) - 1;
    return marks_from<&AlignmentMasks::dashes>(marked, line.residues_at) & inside;
}

// A usual line's gap columns, its gap openings added to `gap_opens`; a gap
// that goes on from the line before (`in_gap`) opened there.
inline __attribute__((always_inline)) std::uint64_t add_usual_gaps(const MarkedLines& marked, const UsualLine& line,
                                                                   bool& in_gap, std::uint64_t& gap_opens) {
    std::uint64_t dashes = usual_dashes(marked, line);
    bool gap_goes_on = in_gap;
    in_gap = (dashes >> (line.columns - 1)) & 1;
    if (dashes == 0) return 0;
    gap_opens += count_bits(dashes & ~(dashes << 1)) - (gap_goes_on && (dashes & 1));
    return count_bits(dashes);
}

// Reads the alignment line of any shape that begins at `start`, finding its
// end on the way, as no byte it reads is past that line feed (or, for a
// last line without one, the zeroed padding after the text). False when the
// line is anything else.
bool parse_alignment_line(const MarkedLines& marked, const char* start, const char* text_end, AlignmentLine& line) {
    const char* p = start + 5;
    if (*p == ':') ++p;
    while (*p == ' ') ++p;
    if (*p == '-') return parse_line_of_gaps(marked, p, text_end, line);
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
        count.openings += count_bits(dashes & ~after_dash & inside);
    }
    return count;
}

// The alignment line at `start` (which begins "Query" or "Sbjct"), of any
// shape; gives its end.
const char* read_alignment_line(const MarkedLines& marked, const char* start, const char* text_end, bool is_query,
                                std::uint64_t line_number, Hsp& hsp, AlignmentProgress& progress) {
    // Nearly every line of a report is the usual one: read from the masks,
    // its gaps too, and by the general reader only when it is not.
    AlignmentLine line;
    GapCount gaps;
    bool usual = false;
    // A last line without its line feed is left to the general reader, as
    // the masks past the text's end say nothing.
    const char* line_end = quick_readers_first && start[5] == ' '
                               ? find_marked<&AlignmentMasks::line_feeds>(marked, start, text_end)
                               : text_end;
    if (line_end != text_end) {
        UsualLine usual_line;
        usual = read_usual_line(marked, static_cast<std::size_t>(start - marked.begin),
                                static_cast<std::size_t>(line_end - marked.begin), usual_line);
        if (usual) {
            line.from = digits_value(usual_line.start_digits, usual_line.start_size);
            line.to = digits_value(usual_line.end_digits, usual_line.end_size);
            line.residues_begin = marked.begin + usual_line.residues_at;
            line.residues_end = line.residues_begin + usual_line.columns;
            line.end = line_end;
            std::uint64_t dashes = usual_dashes(marked, usual_line);
            gaps.columns = count_bits(dashes);
            gaps.openings = count_bits(dashes & ~(dashes << 1));
        }
    }
    if (!usual && !parse_alignment_line(marked, start, text_end, line)) {
        throw layout_failure(
            std::string("an alignment line that is not \"") + (is_query ? "Query" : "Sbjct") + " START RESIDUES END\"",
            line_number);
    }
    std::string_view residues(line.residues_begin, static_cast<std::size_t>(line.residues_end - line.residues_begin));
    if (hsp.length == 0) throw layout_failure("an alignment before its Identities line", line_number);
    if (is_query == progress.awaiting_subject_line) {
        throw layout_failure(
            is_query ? "a Query line where its Sbjct line should be" : "a Sbjct line without its Query line",
            line_number);
    }
    if (!is_query && residues.size() != progress.awaiting_subject_columns) {
        throw layout_failure("a Sbjct line whose residues do not line up with its Query line", line_number);
    }

    bool first_line = hsp.aligned == 0;
    std::uint64_t& first = is_query ? hsp.query_start : hsp.subject_start;
    std::uint64_t& last = is_query ? hsp.query_end : hsp.subject_end;
    if (line.only_gaps) {
        // BLAST's alignments begin and end with residues on both sequences.
        if (first_line) throw layout_failure("an alignment that begins with a line of gaps", line_number);
    } else {
        if (first_line) first = line.from;
        last = line.to;
    }
    // An alignment whose Identities line counts no gaps needs no count of them.
    bool& in_gap = is_query ? hsp.query_in_gap : hsp.subject_in_gap;
    bool gap_goes_on = in_gap;
    in_gap = false;
    std::uint64_t line_gaps = 0;
    if (!hsp.has_gaps_line || hsp.gaps != 0) {
        if (!usual) gaps = count_gaps(marked, line.residues_begin, line.residues_end);
        // A gap that goes on from the line before opened there.
        hsp.gap_opens += gaps.openings - (gap_goes_on && *line.residues_begin == '-');
        in_gap = line.residues_end[-1] == '-';
        hsp.counted_gaps += gaps.columns;
        line_gaps = gaps.columns;
    }
    if (is_query) hsp.query_letters += residues.size() - line_gaps;
    if (progress.keep_sequences) {
        // Masked letters are lower case in the report, upper case in BLAST's
        // table: ASCII's upper case, as the C locale's toupper has it,
        // without a call for every residue.
        std::string& sequence = is_query ? hsp.query_sequence : hsp.subject_sequence;
        std::size_t kept = sequence.size();
        sequence.resize(kept + residues.size());
        char* out = &sequence[kept];
        for (char residue : residues) *out++ = residue >= 'a' && residue <= 'z' ? residue - ('a' - 'A') : residue;
    }
    if (is_query) {
        progress.awaiting_subject_columns = residues.size();
        progress.awaiting_subject_line = true;
    } else {
        hsp.aligned += residues.size();
        progress.awaiting_subject_line = false;
    }
    return line.end;
}

// From `start`, the usual BLAST+ blocks (a Query line, its midline and its
// Sbjct line, then blank lines) read together; gives where the first other
// line begins, which is `start` when it is one (nothing read), for the
// line-by-line reading.
const char* read_usual_blocks(const MarkedLines& marked, const char* start, const char* end, std::uint64_t& line_number,
                              Hsp& hsp, const AlignmentProgress& progress) {
    // Only where the line-by-line reading would raise no failure and keep
    // no sequence.
    if (progress.awaiting_subject_line || hsp.length == 0 || progress.keep_sequences) return start;
    // The alignment's counts stay in registers while its blocks are read.
    bool gaps_counted = !hsp.has_gaps_line || hsp.gaps != 0;
    std::uint64_t aligned = hsp.aligned, query_letters = hsp.query_letters;
    std::uint64_t gap_opens = hsp.gap_opens, counted_gaps = hsp.counted_gaps;
    bool query_in_gap = hsp.query_in_gap, subject_in_gap = hsp.subject_in_gap;
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
            hsp.query_start = digits_value(query.start_digits, query.start_size);
            hsp.subject_start = digits_value(subject.start_digits, subject.start_size);
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
    hsp.aligned = aligned;
    hsp.query_letters = query_letters;
    hsp.gap_opens = gap_opens;
    hsp.counted_gaps = counted_gaps;
    hsp.query_end = digits_value(query_end_digits, query_end_size);
    hsp.subject_end = digits_value(subject_end_digits, subject_end_size);
    hsp.query_in_gap = query_in_gap;
    hsp.subject_in_gap = subject_in_gap;
    line_number += lines_read;
    return begin + at;
}

// "Query", but not "Query=" or "Query #", which begin a query.
bool is_query_alignment_line(const char* start) {
    return literal_at(start, "Query") && start[5] != '=' && !(start[5] == ' ' && start[6] == '#');
}

}  // namespace

const char* read_alignment(const MarkedLines& marked, const char* start, const char* end, std::uint64_t& line_number,
                           Hsp& hsp, AlignmentProgress& progress) {
    // Inside an alignment, nearly every line is blank, a midline or an
    // alignment line, decided on its first bytes; an alignment line's end
    // is found as it is read.
    while (start < end) {
        if (*start == '\n') {
            ++line_number;
            ++start;
        } else if (is_query_alignment_line(start) || literal_at(start, "Sbjct")) {
            if (start[0] == 'Q' && quick_readers_first) {
                const char* after_blocks = read_usual_blocks(marked, start, end, line_number, hsp, progress);
                if (after_blocks != start) {
                    start = after_blocks;
                    continue;
                }
            }
            ++line_number;
            start = read_alignment_line(marked, start, end, start[0] == 'Q', line_number, hsp, progress) + 1;
        } else if (start[0] == ' ' && start[1] == ' ' && progress.awaiting_subject_line) {
            // A midline; other indented lines (the statistics' "  Database:")
            // are the line-by-line reader's.
            ++line_number;
            start = find_marked<&AlignmentMasks::line_feeds>(marked, start, end) + 1;
        } else {
            break;
        }
    }
    return start;
}

}  // namespace hittab::hsptab
