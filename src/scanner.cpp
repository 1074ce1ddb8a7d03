#include "scanner.hpp"

#include <cstring>
#include <iterator>
#include <string>

#include "byte_search.hpp"

namespace hittab {

namespace {

// The position of the lowest set bit; `bits` is not zero.
unsigned lowest_bit(std::uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
    return static_cast<unsigned>(__builtin_ctzll(bits));
#else
    unsigned position = 0;
    while ((bits & 1) == 0) {
        bits >>= 1;
        ++position;
    }
    return position;
#endif
}

bool is_whitespace(char c) {
    auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x09 && byte <= 0x0D) || (byte >= 0x1C && byte <= 0x20);
}

bool starts_with(std::string_view line, std::string_view prefix) {
    return line.size() >= prefix.size() && std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

[[noreturn]] void raise_index_failure(std::uint64_t line_number) {
    throw Failure(FailureKind::index, "list index out of range", line_number);
}

// Copies `value` into `storage` and views the copy.
void keep(std::string_view& value, std::string& storage) {
    if (value.data() == storage.data()) return;
    storage.assign(value.data(), value.size());
    value = storage;
}

// Where "length=" starts in `token` at or after `from`, or npos. Tokens are
// short: a plain loop beats a library search here.
std::size_t find_tag(std::string_view token, std::size_t from) {
    static constexpr char tag[] = "length=";
    constexpr std::size_t tag_size = sizeof tag - 1;
    for (std::size_t at = from; at + tag_size <= token.size(); ++at) {
        if (token[at] == 'l' && std::memcmp(token.data() + at, tag, tag_size) == 0) return at;
    }
    return std::string_view::npos;
}

// `token` with every "length=" in it deleted. A token that is all tags is
// empty afterwards. A tag at the very start (as in "length=777") leaves a
// view of the rest; tags elsewhere need the copy in `scratch`.
std::string_view without_tags(std::string_view token, std::string& scratch) {
    constexpr std::size_t tag_size = 7;
    std::size_t found = find_tag(token, 0);
    if (found == std::string_view::npos) return token;
    std::size_t from = 0;
    if (found == 0) {
        from = tag_size;
        found = find_tag(token, from);
        if (found == std::string_view::npos) return token.substr(from);
    }
    scratch.clear();
    for (; found != std::string_view::npos; found = find_tag(token, from)) {
        scratch.append(token.data() + from, found - from);
        from = found + tag_size;
    }
    scratch.append(token.data() + from, token.size() - from);
    return scratch;
}

// A title line: ">", then exactly three values once every "length=" has
// been deleted. The ">" counts as the first, discarded value whether or not
// a space follows it. A tag never spans whitespace, so deleting tags token
// by token is the same as deleting them from the whole line; a token that is
// nothing but tags disappears.
void read_title(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view values[4];
    std::string scratch[4];  // only used by values with a tag inside them
    std::size_t count = 0;
    std::string_view rest = line.substr(1);
    for (;;) {
        std::size_t wanted = 4 - count;
        std::string_view tokens[4];
        std::size_t found = tokenise(rest, tokens, wanted);
        for (std::size_t i = 0; i < found; ++i) {
            std::string_view value = without_tags(tokens[i], scratch[count]);
            if (!value.empty()) values[count++] = value;
        }
        if (count == 4 || found < wanted) break;  // four values, or the line is used up
        const char* after = tokens[found - 1].data() + tokens[found - 1].size();
        rest = rest.substr(static_cast<std::size_t>(after - rest.data()));
    }
    if (count < 3) {
        throw Failure(FailureKind::unpacking,
                      "not enough values to unpack (expected 4, got " + std::to_string(count + 1) + ")",
                      line_number);
    }
    if (count > 3) throw Failure(FailureKind::unpacking, "too many values to unpack (expected 4)", line_number);
    record.id1 = values[0];
    record.id2 = values[1];
    record.length = values[2];
    // Values built in `scratch` die with it: keep copies.
    if (values[0].data() == scratch[0].data()) keep(record.id1, record.kept[0]);
    if (values[1].data() == scratch[1].data()) keep(record.id2, record.kept[1]);
    if (values[2].data() == scratch[2].data()) keep(record.length, record.kept[2]);
}

// " Score = 1376 bits (745),  Expect = 0.0": the score, the count inside
// "(745)," and the expect value, verbatim.
void read_score(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view items[8];
    std::size_t count = tokenise(line, items, 8);
    if (count < 3) raise_index_failure(line_number);
    record.score = items[2];
    if (count < 5) raise_index_failure(line_number);
    std::string_view count_token = items[4];
    // Without its first character and its last two: "(745)," gives "745".
    record.length2 = count_token.size() > 3 ? count_token.substr(1, count_token.size() - 3) : std::string_view();
    if (count < 8) raise_index_failure(line_number);
    record.e_value = items[7];
}

// " Identities = 745/745 (100%), Gaps = 0/745 (0%)"
void read_identities(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view items[7];
    std::size_t count = tokenise(line, items, 7);
    if (count < 3) raise_index_failure(line_number);
    record.identities = items[2];
    if (count < 7) raise_index_failure(line_number);
    record.gaps = items[6];
}

// " Strand=Plus/Plus": everything after "=" up to the line end, spaces and all.
void read_strand(std::string_view line, HitRecord& record) {
    std::string_view value = line.substr(8);
    if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
    record.strand = value;
}

}  // namespace

std::size_t tokenise(std::string_view text, std::string_view* tokens, std::size_t max_tokens) {
    std::size_t count = 0;
    if (max_tokens == 0) return 0;
    const char* open_token = nullptr;  // a token that runs on from the previous window
    std::uint64_t previous_is_token = 0;  // 1 when the byte before the window belongs to a token
    for (std::size_t base = 0; base < text.size(); base += 64) {
        const char* window = text.data() + base;
        std::uint64_t in_token = ~whitespace_bits(window);
        // Bytes past the end of the text end every token.
        if (text.size() - base < 64) in_token &= ~(~std::uint64_t{0} << (text.size() - base));
        // First and last byte of every token in the window; a token that goes
        // on into the next window has no last byte here.
        std::uint64_t starts = in_token & ~(in_token << 1 | previous_is_token);
        std::uint64_t ends = in_token & ~(in_token >> 1);
        if (base + 64 < text.size() && !is_whitespace(window[64])) ends &= ~(std::uint64_t{1} << 63);
        previous_is_token = in_token >> 63;

        if (open_token != nullptr && ends != 0) {
            tokens[count++] = std::string_view(open_token, static_cast<std::size_t>(window + lowest_bit(ends) + 1 - open_token));
            open_token = nullptr;
            ends &= ends - 1;
            if (count == max_tokens) return count;
        }
        for (; starts != 0; starts &= starts - 1) {
            const char* start = window + lowest_bit(starts);
            if (ends == 0) {
                open_token = start;
                break;
            }
            tokens[count++] = std::string_view(start, static_cast<std::size_t>(window + lowest_bit(ends) + 1 - start));
            ends &= ends - 1;
            if (count == max_tokens) return count;
        }
    }
    return count;
}

void scan_line(std::string_view line, std::uint64_t line_number, HitRecord& record, TableWriter& table) {
    if (starts_with(line, ">")) {
        dump(record, table);
        read_title(line, line_number, record);
    } else if (starts_with(line, " Score = ")) {
        read_score(line, line_number, record);
    } else if (starts_with(line, " Identities = ")) {
        read_identities(line, line_number, record);
    } else if (starts_with(line, " Strand=")) {
        read_strand(line, record);
    }
}

std::uint64_t scan_lines(std::string_view lines, std::uint64_t first_line_number, HitRecord& record,
                         TableWriter& table) {
    const char* position = lines.data();
    const char* end = position + lines.size();
    std::uint64_t line_number = first_line_number;
    CandidateLine found[64];
    while (position != end) {
        std::size_t count = find_candidate_lines(position, end, line_number, found, std::size(found));
        for (std::size_t i = 0; i < count; ++i) scan_line(found[i].text, found[i].line_number, record, table);
    }
    keep_values(record);
    return line_number;
}

void keep_values(HitRecord& record) {
    keep(record.id1, record.kept[0]);
    keep(record.id2, record.kept[1]);
    keep(record.length, record.kept[2]);
    keep(record.score, record.kept[3]);
    keep(record.length2, record.kept[4]);
    keep(record.e_value, record.kept[5]);
    keep(record.identities, record.kept[6]);
    keep(record.gaps, record.kept[7]);
    keep(record.strand, record.kept[8]);
}

}  // namespace hittab
