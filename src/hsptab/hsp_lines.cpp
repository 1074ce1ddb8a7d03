#include "hsp_lines.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "bits.hpp"
#include "text_words.hpp"

namespace hittab::hsptab {

namespace {

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

// "30.0", "1e-05", "e-102", "1.084e+04": the numbers of a Score line as
// BLAST writes them, with a digit and no other byte than these.
bool is_score_number(std::string_view text) {
    bool digit = false;
    for (char c : text) {
        if (is_digit(c)) {
            digit = true;
        } else if (c != '.' && c != 'e' && c != 'E' && c != '-' && c != '+') {
            return false;
        }
    }
    return digit;
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
// read_score reads; where this reads a line, that reads the same.
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
    if (p == value) return false;  // no value: read_score says so
    // Anything but a number: read_score says so.
    if (!is_score_number(std::string_view(bits, bits_size)) ||
        !is_score_number(std::string_view(value, static_cast<std::size_t>(p - value)))) {
        return false;
    }
    hsp.bit_score.assign(std::string_view(bits, bits_size));
    hsp.raw_score.assign(std::string_view(raw, raw_size));
    set_evalue(hsp, std::string_view(value, static_cast<std::size_t>(p - value)));
    return true;
}

// " Score = 1184 bits (641),  Expect = 0.0", " Score =  517 bits (261), Expect = e-146",
// "Score:41.0 bits(44), Expect:0.33,", " Score = 180 bits (387), Expect(2) = 9e-91".
const char* read_score(std::string_view line, Hsp& hsp) {
    const char* p = line.data();
    const char* end = p + line.size();
    while (p != end && *p == ' ') ++p;
    p += 5;  // "Score", which the caller has seen
    while (p != end && (*p == ' ' || *p == '=' || *p == ':')) ++p;
    const char* bits = p;
    while (p != end && *p != ' ') ++p;
    hsp.bit_score.assign(std::string_view(bits, static_cast<std::size_t>(p - bits)));
    while (p != end && *p == ' ') ++p;
    if (hsp.bit_score.empty() || end - p < 4 || std::memcmp(p, "bits", 4) != 0) {
        return "a Score line without a bit score";
    }
    if (!is_score_number(std::string_view(bits, hsp.bit_score.size()))) {
        return "a Score line whose bit score is not a number";
    }
    p += 4;
    while (p != end && *p == ' ') ++p;
    if (p == end || *p != '(') return "a Score line without a raw score";
    const char* raw = ++p;
    while (p != end && is_digit(*p)) ++p;
    if (p == raw || p == end || *p != ')') return "a Score line without a raw score";
    hsp.raw_score.assign(std::string_view(raw, static_cast<std::size_t>(p - raw)));
    std::string_view rest(p, static_cast<std::size_t>(end - p));
    // BLAST+ writes "),  Expect = " here; any other text is searched.
    bool usual = starts_with(rest, "),  Expect = ");
    std::size_t expect = usual ? 4 : find_text(rest, "Expect");
    std::size_t separator = usual ? 11 : expect == std::string_view::npos ? expect : find_separator(rest, expect);
    if (separator == std::string_view::npos) return "a Score line without an Expect value";
    p = rest.data() + separator + 1;
    while (p != end && *p == ' ') ++p;
    const char* value = p;
    while (p != end && *p != ' ' && *p != ',' && *p != ';') ++p;
    if (p == value) return "a Score line without an Expect value";
    std::string_view evalue(value, static_cast<std::size_t>(p - value));
    if (!is_score_number(evalue)) return "a Score line whose Expect value is not a number";
    set_evalue(hsp, evalue);
    return nullptr;
}

// " Identities = 192/194 (98%), Gaps = 1/194 (0%)", with ", Positives =
// 85/120 (71%)" before the Gaps for proteins: BLAST+'s Identities line, read
// in one pass. False for any other shape, which read_identities reads;
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

// "Identities = 192/194 (98%), Positives = ..., Gaps = 1/194 (0%)" (`text`,
// its leading spaces passed over): each figure after its label, the labels
// after commas, in one pass.
const char* read_identities(std::string_view text, Hsp& hsp) {
    for (std::string_view rest = text; !rest.empty();) {
        std::size_t comma = find_byte(rest, ',');
        std::string_view item = skip_spaces(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        std::uint64_t* part = nullptr;
        std::uint64_t whole = 0;
        std::uint64_t* whole_into = &whole;
        if (starts_with(item, "Identities")) {
            part = &hsp.identities;
            whole_into = &hsp.length;
        } else if (starts_with(item, "Positives")) {
            part = &hsp.positives;
            hsp.has_positives = true;
        } else if (starts_with(item, "Gaps")) {
            part = &hsp.gaps;
            hsp.has_gaps_line = true;
        } else {
            continue;  // "(98%)" after a web layout's comma, "Strand: ..."
        }
        std::size_t separator = find_separator(item);
        std::string_view figure =
            separator == std::string_view::npos ? item.substr(item.size()) : skip_spaces(item.substr(separator + 1));
        bool read = take_number(figure, *part) && !figure.empty() && figure.front() == '/';
        if (read) figure.remove_prefix(1);
        if (!read || !take_number(figure, *whole_into)) return "an Identities line without \"N/LENGTH\"";
    }
    if (hsp.length == 0) return "an Identities line without \"N/LENGTH\"";
    return nullptr;
}

// " Strand=Plus/Plus", " Strand=Plus/Minus": BLAST+'s Strand lines, whole.
// False for any other shape, which read_strand reads; where this reads a
// line, that reads the same.
bool read_usual_strand(std::string_view line, Hsp& hsp) {
    if ((line.size() == 17 && literal_at(line.data(), " Strand=Plus/Plus")) ||
        (line.size() == 18 && literal_at(line.data(), " Strand=Plus/Minus"))) {
        hsp.subject_minus = line.size() == 18;
        return true;
    }
    return false;
}

// "Strand=Plus/Minus", "Strand = Plus / Minus", "..., Strand: Plus/Minus".
const char* read_strand(std::string_view text, Hsp& hsp) {
    std::string_view strands = after_label(text, "Strand");
    std::size_t slash = find_byte(strands, '/');
    if (slash == std::string_view::npos) return "a Strand line without \"QUERY/SUBJECT\"";
    std::string_view subject_strand = trim(strands.substr(slash + 1));
    hsp.subject_minus = starts_with(subject_strand, "Minus");
    return nullptr;
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

// "Frame = +2", "Frame = +1/-3", "Frame = +2 / +2": one frame is the
// translated sequence's, two are the query's and the subject's.
const char* read_frame(std::string_view text, SearchKind kind, Hsp& hsp) {
    std::string_view frames = after_label(text, "Frame");
    int first = 0, second = 0;
    if (!take_frame(frames, first)) return "a Frame line without a frame";
    frames = skip_spaces(frames);
    bool two = !frames.empty() && frames.front() == '/';
    if (two) {
        frames.remove_prefix(1);
        if (!take_frame(frames, second)) return "a Frame line without its second frame";
    }
    switch (kind) {
        case SearchKind::translated_subject: hsp.subject_frame = two ? second : first; break;
        case SearchKind::translated_both:
            hsp.query_frame = first;
            hsp.subject_frame = two ? second : 0;
            break;
        case SearchKind::nucleotide:
        case SearchKind::protein:
        case SearchKind::translated_query: hsp.query_frame = first; break;
    }
    hsp.has_frame_line = true;
    return nullptr;
}

// The frame of a translated sequence from where its alignment starts.
int frame_from(std::uint64_t start, std::uint64_t end, std::uint64_t length) {
    if (start <= end) return static_cast<int>((start - 1) % 3) + 1;
    return -(static_cast<int>((length - start) % 3) + 1);
}

}  // namespace

const char* read_score_line(std::string_view line, Hsp& hsp) {
    if (quick_readers_first && read_usual_score(line, hsp)) return nullptr;
    return read_score(line, hsp);
}

const char* read_hsp_line(std::string_view line, SearchKind kind, Hsp& hsp) {
    if (quick_readers_first && (read_usual_strand(line, hsp) || read_usual_identities(line, hsp))) return nullptr;
    std::string_view text = skip_spaces(line);
    bool identities_line = starts_with(text, "Identities");
    if (identities_line) {
        if (const char* failure = read_identities(text, hsp)) return failure;
    }
    if (starts_with(text, "Strand") || (identities_line && find_text(text, "Strand:") != std::string_view::npos)) {
        return read_strand(text, hsp);
    }
    if (starts_with(text, "Frame")) return read_frame(text, kind, hsp);
    return nullptr;
}

std::string contradiction(const Hsp& hsp, SearchKind kind, std::uint64_t query_length, std::uint64_t subject_length) {
    std::uint64_t stated_gaps = hsp.has_gaps_line ? hsp.gaps : hsp.counted_gaps;
    if (hsp.identities > hsp.aligned || (hsp.has_positives && hsp.positives > hsp.aligned) ||
        stated_gaps > hsp.aligned || hsp.identities + stated_gaps > hsp.aligned) {
        return "an Identities line whose counts do not fit the alignment's " + std::to_string(hsp.aligned) + " columns";
    }
    // Each side's coordinates span its residues, three letters to a residue
    // on a translated side; the subject's residues are the columns less its
    // gaps, which are the gap columns less the query's.
    std::uint64_t gap_columns = hsp.has_gaps_line && hsp.gaps == 0 ? 0 : hsp.counted_gaps;
    std::uint64_t subject_letters = 2 * hsp.aligned - gap_columns - hsp.query_letters;
    bool query_translated = kind == SearchKind::translated_query || kind == SearchKind::translated_both;
    bool subject_translated = kind == SearchKind::translated_subject || kind == SearchKind::translated_both;
    auto spans = [](std::uint64_t from, std::uint64_t to, std::uint64_t letters) {
        return (from > to ? from - to : to - from) + 1 == letters;
    };
    auto not_spanned = [](const char* side, std::uint64_t from, std::uint64_t to, std::uint64_t residues,
                          bool translated) {
        return std::string("the ") + side + " coordinates " + std::to_string(from) + " to " + std::to_string(to) +
               " do not span the alignment's " + std::to_string(residues) + " " + side + " residues" +
               (translated ? " (three letters each)" : "");
    };
    if (!spans(hsp.query_start, hsp.query_end, (query_translated ? 3 : 1) * hsp.query_letters)) {
        return not_spanned("query", hsp.query_start, hsp.query_end, hsp.query_letters, query_translated);
    }
    if (!spans(hsp.subject_start, hsp.subject_end, (subject_translated ? 3 : 1) * subject_letters)) {
        return not_spanned("subject", hsp.subject_start, hsp.subject_end, subject_letters, subject_translated);
    }
    if (query_length != 0 && std::max(hsp.query_start, hsp.query_end) > query_length) {
        return "an alignment past the end of its query, of " + std::to_string(query_length) + " letters";
    }
    if (subject_length != 0 && std::max(hsp.subject_start, hsp.subject_end) > subject_length) {
        return "an alignment past the end of its subject, of " + std::to_string(subject_length) + " letters";
    }
    return {};
}

void settle_hsp(Hsp& hsp, const Run& run, std::uint64_t query_length, std::uint64_t subject_length) {
    if (!hsp.has_gaps_line) hsp.gaps = hsp.counted_gaps;
    // Profile searches score against a profile: BLAST's table counts no
    // positives beyond the identities, whatever the report's Positives say.
    if (!hsp.has_positives || run.profiles) hsp.positives = hsp.identities;
    switch (run.kind) {
        case SearchKind::nucleotide:
            hsp.query_frame = 1;
            hsp.subject_frame = hsp.subject_minus ? -1 : 1;
            break;
        case SearchKind::protein: hsp.query_frame = hsp.subject_frame = 1; break;  // as BLAST+'s table has it
        case SearchKind::translated_query:
            if (!hsp.has_frame_line) hsp.query_frame = frame_from(hsp.query_start, hsp.query_end, query_length);
            hsp.subject_frame = 0;
            break;
        case SearchKind::translated_subject:
            if (!hsp.has_frame_line) {
                hsp.subject_frame = frame_from(hsp.subject_start, hsp.subject_end, subject_length);
            }
            hsp.query_frame = 0;
            break;
        case SearchKind::translated_both:
            if (!hsp.has_frame_line) {
                hsp.query_frame = frame_from(hsp.query_start, hsp.query_end, query_length);
                hsp.subject_frame = frame_from(hsp.subject_start, hsp.subject_end, subject_length);
            }
            break;
    }
}

}  // namespace hittab::hsptab
