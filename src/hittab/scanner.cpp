#include "scanner.hpp"

#include <cstring>
#include <iterator>
#include <string>

#include "bits.hpp"

namespace hittab {

namespace {

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

// The tokens of a line that fits one 64-byte window, cut at whitespace as the kernel's tokenise cuts them, from that
// window's masks: the first and last byte of each token are bits of two masks. Walking them costs a few bit steps per
// token and no branch on a token's length, which varies from line to line. Nearly every line read here is this short;
// longer ones go through tokenise.
struct ShortLineTokens {
    const char* text;
    std::uint64_t starts;        // the first byte of each token still to come
    std::uint64_t ends;          // the last byte of each
    std::uint64_t equals_signs;  // the line's '=' bytes: a tag holds one

    // Whether `tokens` more tokens are still to come.
    bool holds(std::size_t tokens) const {
        std::uint64_t rest = starts;
        for (std::size_t i = 1; i < tokens; ++i) rest &= rest - 1;
        return rest != 0;
    }

    void skip(std::size_t tokens) {
        for (std::size_t i = 0; i < tokens; ++i) {
            starts &= starts - 1;
            ends &= ends - 1;
        }
    }

    // The next token; there must be one. `has_equals_sign` tells whether it holds an '='.
    std::string_view take(bool& has_equals_sign) {
        unsigned first = lowest_bit(starts);
        unsigned last = lowest_bit(ends);
        // The token's bits: from its first byte up to its last.
        std::uint64_t token_bits = (ends & -ends) - (starts & -starts) + (ends & -ends);
        has_equals_sign = (equals_signs & token_bits) != 0;
        skip(1);
        return std::string_view(text + first, last + 1 - first);
    }

    std::string_view take() {
        bool has_equals_sign;
        return take(has_equals_sign);
    }
};

// False when `line` is longer than one window.
bool cut_short_line(PaddedView line, const Kernel& kernel, ShortLineTokens& tokens) {
    if (line.size() > 64) return false;
    std::uint64_t inside = line.size() == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << line.size()) - 1;
    TokenMasks masks = kernel.mark_token_bytes(line.data());
    std::uint64_t in_token = ~masks.whitespace & inside;
    tokens = {line.data(), in_token & ~(in_token << 1), in_token & ~(in_token >> 1), masks.equals_signs & inside};
    return true;
}

// A title line: ">", then exactly three values once every "length=" has
// been deleted. The ">" counts as the first, discarded value whether or not
// a space follows it. A tag never spans whitespace, so deleting tags token
// by token is the same as deleting them from the whole line; a token that is
// nothing but tags disappears.
void read_title(PaddedView line, std::uint64_t line_number, HitRecord& record, const Kernel& kernel) {
    std::string_view values[4];
    std::string scratch[4];  // only used by values with a tag inside them
    std::size_t count = 0;
    auto add_token = [&](std::string_view token, bool may_hold_tag) {
        std::string_view value = may_hold_tag ? without_tags(token, scratch[count]) : token;
        if (!value.empty()) values[count++] = value;
    };
    PaddedView rest = line.substr(1);
    ShortLineTokens short_line;
    if (cut_short_line(rest, kernel, short_line)) {
        while (count < 4 && short_line.starts != 0) {
            bool has_equals_sign;
            std::string_view token = short_line.take(has_equals_sign);
            add_token(token, has_equals_sign);
        }
    } else {
        for (;;) {
            std::size_t wanted = 4 - count;
            std::string_view tokens[4];
            std::size_t found = kernel.tokenise(rest, tokens, wanted);
            for (std::size_t i = 0; i < found; ++i) add_token(tokens[i], true);
            if (count == 4 || found < wanted) break;  // four values, or the line is used up
            const char* after = tokens[found - 1].data() + tokens[found - 1].size();
            rest = rest.substr(static_cast<std::size_t>(after - rest.data()));
        }
    }
    if (count < 3) throw too_few_values(count + 1, line_number);
    if (count > 3) throw too_many_values(line_number);
    record.id1 = values[0];
    record.id2 = values[1];
    record.length = values[2];
    // Values built in `scratch` die with it: keep copies.
    if (values[0].data() == scratch[0].data()) keep(record.id1, record.kept[0]);
    if (values[1].data() == scratch[1].data()) keep(record.id2, record.kept[1]);
    if (values[2].data() == scratch[2].data()) keep(record.length, record.kept[2]);
}

// A Score line's "(745),": without its first character and its last two, "745".
std::string_view count_inside(std::string_view token) {
    return token.size() > 3 ? token.substr(1, token.size() - 3) : std::string_view();
}

// " Score = 1376 bits (745),  Expect = 0.0": the score, the count inside
// "(745)," and the expect value, verbatim.
void read_score(PaddedView line, std::uint64_t line_number, HitRecord& record, const Kernel& kernel) {
    ShortLineTokens short_line;
    if (cut_short_line(line, kernel, short_line) && short_line.holds(8)) {
        short_line.skip(2);
        record.score = short_line.take();
        short_line.skip(1);
        record.length2 = count_inside(short_line.take());
        short_line.skip(2);
        record.e_value = short_line.take();
        return;
    }
    // Long lines, and lines that fail, the general way.
    std::string_view items[8];
    std::size_t count = kernel.tokenise(line, items, 8);
    if (count < 3) throw index_out_of_range(line_number);
    record.score = items[2];
    if (count < 5) throw index_out_of_range(line_number);
    record.length2 = count_inside(items[4]);
    if (count < 8) throw index_out_of_range(line_number);
    record.e_value = items[7];
}

// " Identities = 745/745 (100%), Gaps = 0/745 (0%)"
void read_identities(PaddedView line, std::uint64_t line_number, HitRecord& record, const Kernel& kernel) {
    ShortLineTokens short_line;
    if (cut_short_line(line, kernel, short_line) && short_line.holds(7)) {
        short_line.skip(2);
        record.identities = short_line.take();
        short_line.skip(3);
        record.gaps = short_line.take();
        return;
    }
    std::string_view items[7];
    std::size_t count = kernel.tokenise(line, items, 7);
    if (count < 3) throw index_out_of_range(line_number);
    record.identities = items[2];
    if (count < 7) throw index_out_of_range(line_number);
    record.gaps = items[6];
}

// " Strand=Plus/Plus": everything after "=" up to the line end, spaces and all.
void read_strand(PaddedView line, HitRecord& record) {
    std::string_view value = line.text().substr(8);
    if (!value.empty() && value.back() == '\n') value.remove_suffix(1);
    record.strand = value;
}

}  // namespace

void scan_line(PaddedView line, std::uint64_t line_number, HitRecord& record, TableWriter& table,
               const Kernel& kernel) {
    if (line.starts_with(">")) {
        dump(record, table);
        read_title(line, line_number, record, kernel);
    } else if (line.starts_with(" Score = ")) {
        read_score(line, line_number, record, kernel);
    } else if (line.starts_with(" Identities = ")) {
        read_identities(line, line_number, record, kernel);
    } else if (line.starts_with(" Strand=")) {
        read_strand(line, record);
    }
}

LineKind read_line(PaddedView line, std::uint64_t line_number, HitRecord& values, const Kernel& kernel) {
    if (line.starts_with(">")) {
        read_title(line, line_number, values, kernel);
        return LineKind::title;
    }
    if (line.starts_with(" Score = ")) {
        read_score(line, line_number, values, kernel);
        return LineKind::score;
    }
    if (line.starts_with(" Identities = ")) {
        read_identities(line, line_number, values, kernel);
        return LineKind::identities;
    }
    if (line.starts_with(" Strand=")) {
        read_strand(line, values);
        return LineKind::strand;
    }
    return LineKind::other;
}

std::uint64_t scan_lines(PaddedView lines, std::uint64_t first_line_number, HitRecord& record, TableWriter& table,
                         const Kernel& kernel) {
    std::uint64_t line_number = first_line_number;
    CandidateLine found[64];
    while (!lines.empty()) {
        std::size_t count = kernel.find_candidate_lines(lines, line_number, found, std::size(found));
        for (std::size_t i = 0; i < count; ++i) scan_line(found[i].text, found[i].line_number, record, table, kernel);
    }
    keep_values(record);
    return line_number;
}

void keep_values(HitRecord& record) {
    for (std::size_t i = 0; i < columns.size(); ++i) keep(record.*columns[i].field, record.kept[i]);
}

}  // namespace hittab
