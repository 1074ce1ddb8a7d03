#include "scanner.hpp"

#include <array>
#include <cstring>
#include <string>

#include "line_finder.hpp"

namespace hittab {

namespace {

constexpr std::array<bool, 256> make_whitespace_table() {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r', '\x1c', '\x1d', '\x1e', '\x1f'}) table[c] = true;
    return table;
}

constexpr std::array<bool, 256> whitespace = make_whitespace_table();

bool is_whitespace(char c) { return whitespace[static_cast<unsigned char>(c)]; }

bool starts_with(std::string_view line, std::string_view prefix) {
    return line.size() >= prefix.size() && std::memcmp(line.data(), prefix.data(), prefix.size()) == 0;
}

[[noreturn]] void raise_index_failure(std::uint64_t line_number) {
    throw Failure(FailureKind::index, "list index out of range", line_number);
}

void assign(std::string& field, std::string_view value) { field.assign(value.data(), value.size()); }

// A title line: ">", then exactly three values once every "length=" has
// been deleted. The ">" counts as the first, discarded value whether or not
// a space follows it.
void read_title(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    static constexpr std::string_view tag = "length=";
    std::string_view rest = line.substr(1);
    std::size_t found = rest.find(tag);
    std::string without_tags;  // only built when the line holds the tag
    if (found != std::string_view::npos) {
        std::size_t from = 0;
        while (found != std::string_view::npos) {
            without_tags.append(rest.data() + from, found - from);
            from = found + tag.size();
            found = rest.find(tag, from);
        }
        without_tags.append(rest.data() + from, rest.size() - from);
        rest = without_tags;
    }

    std::string_view values[4];
    std::size_t count = tokenise(rest, values, 4);
    if (count < 3) {
        throw Failure(FailureKind::unpacking,
                      "not enough values to unpack (expected 4, got " + std::to_string(count + 1) + ")",
                      line_number);
    }
    if (count > 3) throw Failure(FailureKind::unpacking, "too many values to unpack (expected 4)", line_number);
    assign(record.id1, values[0]);
    assign(record.id2, values[1]);
    assign(record.length, values[2]);
}

// " Score = 1376 bits (745),  Expect = 0.0": the score, the count inside
// "(745)," and the expect value, verbatim.
void read_score(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view items[8];
    std::size_t count = tokenise(line, items, 8);
    if (count < 3) raise_index_failure(line_number);
    assign(record.score, items[2]);
    if (count < 5) raise_index_failure(line_number);
    std::string_view count_token = items[4];
    // Without its first character and its last two: "(745)," gives "745".
    assign(record.length2, count_token.size() > 3 ? count_token.substr(1, count_token.size() - 3) : std::string_view());
    if (count < 8) raise_index_failure(line_number);
    assign(record.e_value, items[7]);
}

// " Identities = 745/745 (100%), Gaps = 0/745 (0%)"
void read_identities(std::string_view line, std::uint64_t line_number, HitRecord& record) {
    std::string_view items[7];
    std::size_t count = tokenise(line, items, 7);
    if (count < 3) raise_index_failure(line_number);
    assign(record.identities, items[2]);
    if (count < 7) raise_index_failure(line_number);
    assign(record.gaps, items[6]);
}

// " Strand=Plus/Plus": everything after "=" up to the line end, spaces and all.
void read_strand(std::string_view line, HitRecord& record) {
    std::string_view value = line.substr(8);
    if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
    assign(record.strand, value);
}

}  // namespace

std::size_t tokenise(std::string_view text, std::string_view* tokens, std::size_t max_tokens) {
    std::size_t count = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (count < max_tokens) {
        while (p != end && is_whitespace(*p)) ++p;
        if (p == end) break;
        const char* start = p;
        while (p != end && !is_whitespace(*p)) ++p;
        tokens[count++] = std::string_view(start, static_cast<std::size_t>(p - start));
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
    const char* p = lines.data();
    const char* end = p + lines.size();
    std::uint64_t line_number = first_line_number;
    while ((p = find_candidate_line(p, end, line_number)) != end) {
        const char* line_end = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* next = line_end != nullptr ? line_end + 1 : end;
        scan_line(std::string_view(p, static_cast<std::size_t>(next - p)), line_number, record, table);
        if (line_end != nullptr) ++line_number;
        p = next;
    }
    return line_number;
}

}  // namespace hittab
