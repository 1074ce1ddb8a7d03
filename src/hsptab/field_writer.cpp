#include "field_writer.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace hittab::hsptab {

namespace {

struct FieldName {
    std::string_view keyword;      // as BLAST's -outfmt spells it
    std::string_view description;  // as BLAST's commented table names it
    Field field;
};

constexpr std::array<FieldName, 28> field_names = {{
    {"qseqid", "query id", Field::qseqid},
    {"qlen", "query length", Field::qlen},
    {"sseqid", "subject id", Field::sseqid},
    {"stitle", "subject title", Field::stitle},
    {"slen", "subject length", Field::slen},
    {"pident", "% identity", Field::pident},
    {"length", "alignment length", Field::length},
    {"mismatch", "mismatches", Field::mismatch},
    {"gapopen", "gap opens", Field::gapopen},
    {"gaps", "gaps", Field::gaps},
    {"nident", "identical", Field::nident},
    {"positive", "positives", Field::positive},
    {"ppos", "% positives", Field::ppos},
    {"qstart", "q. start", Field::qstart},
    {"qend", "q. end", Field::qend},
    {"sstart", "s. start", Field::sstart},
    {"send", "s. end", Field::send},
    {"qframe", "query frame", Field::qframe},
    {"sframe", "sbjct frame", Field::sframe},
    {"frames", "query/sbjct frames", Field::frames},
    {"sstrand", "subject strand", Field::sstrand},
    {"evalue", "evalue", Field::evalue},
    {"bitscore", "bit score", Field::bitscore},
    {"score", "score", Field::score},
    {"qcovhsp", "% query coverage per hsp", Field::qcovhsp},
    {"btop", "BTOP", Field::btop},
    {"qseq", "query seq", Field::qseq},
    {"sseq", "subject seq", Field::sseq},
}};

// The table lists every field once, in the enum's order, so that name_of
// can index it.
constexpr bool names_follow_the_enum() {
    for (std::size_t i = 0; i < field_names.size(); ++i) {
        if (field_names[i].field != static_cast<Field>(i)) return false;
    }
    return true;
}
static_assert(field_names.size() == field_count && names_follow_the_enum(),
              "field_names must name every Field, in the order of the enum");

// A list of fields known when compiling.
template <Field... fields>
struct FieldList {};

template <Field... fields>
constexpr std::array<Field, sizeof...(fields)> array_of(FieldList<fields...>) {
    return {fields...};
}

using StandardFields =
    FieldList<Field::qseqid, Field::sseqid, Field::pident, Field::length, Field::mismatch, Field::gapopen,
              Field::qstart, Field::qend, Field::sstart, Field::send, Field::evalue, Field::bitscore>;
constexpr auto standard_fields = array_of(StandardFields());

const FieldName& name_of(Field field) { return field_names[static_cast<std::size_t>(field)]; }

// Rows are written straight into a buffer sized beforehand: no field is
// longer than the bound field_bound gives it.
char* put(char* out, std::string_view value) {
    if (!value.empty()) std::memcpy(out, value.data(), value.size());
    return out + value.size();
}

char* put(char* out, const ShortText& value) { return value.put(out); }

// "00" to "99": numbers are written two digits at a time.
constexpr char digit_pairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
    "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";

char* put_pair(char* out, std::uint64_t below_hundred) {
    std::memcpy(out, digit_pairs + 2 * below_hundred, 2);
    return out + 2;
}

// Most numbers in a row (coordinates, lengths, counts) have at most four
// digits: those are written without a loop.
inline __attribute__((always_inline)) char* put_number(char* out, std::uint64_t number) {
    if (number < 100) {
        if (number < 10) {
            *out = static_cast<char>('0' + number);
            return out + 1;
        }
        return put_pair(out, number);
    }
    if (number < 10000) {
        if (number < 1000) {
            *out++ = static_cast<char>('0' + number / 100);
        } else {
            out = put_pair(out, number / 100);
        }
        return put_pair(out, number % 100);
    }
    return std::to_chars(out, out + 24, number).ptr;
}

char* put_signed(char* out, int number) { return std::to_chars(out, out + 24, number).ptr; }

constexpr std::size_t number_bound = 24;
constexpr std::size_t percentage_bound = 64;

}  // namespace

// Whole numbers do it faster than printf; only an exact tie, where the
// double's own rounding decides, goes to printf.
template <int decimals>
char* put_percentage(char* out, std::uint64_t part, std::uint64_t whole) {
    constexpr std::uint64_t scale = decimals == 3 ? 1000 : 100;
    std::uint64_t numerator = 100 * scale * part;
    bool exact = whole != 0 && part <= whole && whole <= (std::uint64_t{1} << 40);
    if (exact) {
        std::uint64_t scaled = numerator / whole;
        std::uint64_t remainder = numerator % whole;
        if (2 * remainder != whole) {
            if (2 * remainder > whole) ++scaled;
            out = put_number(out, scaled / scale);
            *out++ = '.';
            std::uint64_t fraction = scaled % scale;
            if (decimals == 3) {
                *out++ = static_cast<char>('0' + fraction / 100);
                fraction %= 100;
            }
            return put_pair(out, fraction);
        }
    }
    double value = whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
    int size = std::snprintf(out, percentage_bound, "%.*f", decimals, value);
    return out + std::min<std::size_t>(static_cast<std::size_t>(size), percentage_bound - 1);
}

void append_percentage(std::string& text, std::uint64_t part, std::uint64_t whole, int decimals) {
    char buffer[percentage_bound];
    char* end = decimals == 3 ? put_percentage<3>(buffer, part, whole) : put_percentage<2>(buffer, part, whole);
    text.append(buffer, static_cast<std::size_t>(end - buffer));
}

namespace {

// BLAST's trace-back operations: identical columns in a row as their count,
// every other column as its query and subject letters. At most two bytes a column.
char* put_btop(char* out, const std::string& query, const std::string& subject) {
    std::uint64_t identical = 0;
    for (std::size_t i = 0; i < query.size() && i < subject.size(); ++i) {
        if (query[i] != '-' && query[i] == subject[i]) {
            ++identical;
            continue;
        }
        if (identical != 0) out = put_number(out, identical);
        identical = 0;
        *out++ = query[i];
        *out++ = subject[i];
    }
    if (identical != 0) out = put_number(out, identical);
    return out;
}

// Whether the bound of `field` depends on the row: text of any length.
constexpr bool is_sized(Field field) {
    switch (field) {
        case Field::qseqid:
        case Field::sseqid:
        case Field::stitle:
        case Field::evalue:
        case Field::bitscore:
        case Field::score:
        case Field::btop:
        case Field::qseq:
        case Field::sseq: return true;
        case Field::qlen:
        case Field::slen:
        case Field::pident:
        case Field::length:
        case Field::mismatch:
        case Field::gapopen:
        case Field::gaps:
        case Field::nident:
        case Field::positive:
        case Field::ppos:
        case Field::qstart:
        case Field::qend:
        case Field::sstart:
        case Field::send:
        case Field::qframe:
        case Field::sframe:
        case Field::frames:
        case Field::sstrand:
        case Field::qcovhsp: return false;
    }
    return false;
}

// The longest `field` can be in this row.
inline std::size_t field_bound(Field field, const Run& run, const Query& query, const Subject& subject,
                               const Hsp& hsp) {
    switch (field) {
        case Field::qseqid: return query.id.size();
        case Field::sseqid: return subject.id.size();
        case Field::stitle: return run.subjects_given ? 3 : subject.title.size();
        case Field::pident:
        case Field::ppos: return percentage_bound;
        case Field::frames: return 2 * number_bound;
        case Field::evalue: return hsp.evalue.size();
        case Field::bitscore: return hsp.bit_score.size() + 1;
        case Field::score: return hsp.raw_score.size();
        case Field::btop: return 2 * std::min(hsp.query_sequence.size(), hsp.subject_sequence.size());
        case Field::qseq: return hsp.query_sequence.size();
        case Field::sseq: return hsp.subject_sequence.size();
        case Field::sstrand:  // "minus" at the most
        case Field::qlen:
        case Field::slen:
        case Field::length:
        case Field::mismatch:
        case Field::gapopen:
        case Field::gaps:
        case Field::nident:
        case Field::positive:
        case Field::qstart:
        case Field::qend:
        case Field::sstart:
        case Field::send:
        case Field::qframe:
        case Field::sframe:
        case Field::qcovhsp: return number_bound;
    }
    return number_bound;
}

// The row-dependent share of the bound of fields known when compiling.
template <Field... fields>
std::size_t sized_bounds(FieldList<fields...>, const Run& run, const Query& query, const Subject& subject,
                         const Hsp& hsp) {
    return ((is_sized(fields) ? field_bound(fields, run, query, subject, hsp) : 0) + ...);
}

}  // namespace

std::vector<Field> parse_fields(std::string_view keywords) {
    std::vector<Field> fields;
    std::size_t at = 0;
    while (at < keywords.size()) {
        std::size_t end = keywords.find_first_of(" \t", at);
        if (end == std::string_view::npos) end = keywords.size();
        std::string_view word = keywords.substr(at, end - at);
        at = end + 1;
        if (word.empty()) continue;
        if (word == "std") {
            fields.insert(fields.end(), standard_fields.begin(), standard_fields.end());
            continue;
        }
        bool known = false;
        for (const FieldName& name : field_names) {
            if (name.keyword == word) {
                fields.push_back(name.field);
                known = true;
                break;
            }
        }
        if (!known) {
            std::string message = "unknown field '" + std::string(word) + "'; the known fields are std";
            for (const FieldName& name : field_names) message += " " + std::string(name.keyword);
            throw UsageError{message};
        }
    }
    if (fields.empty()) throw UsageError{"no fields given"};
    // BLAST writes a field named twice once, where it is first named.
    std::vector<Field> once;
    for (Field field : fields) {
        if (std::find(once.begin(), once.end(), field) == once.end()) once.push_back(field);
    }
    return once;
}

std::string_view keyword_of(Field field) { return name_of(field).keyword; }

RowFormat::RowFormat(std::vector<Field> chosen_fields, bool with_comments)
    : fields(std::move(chosen_fields)),
      comments(with_comments),
      standard(std::equal(fields.begin(), fields.end(), standard_fields.begin(), standard_fields.end())) {
    for (Field field : fields) {
        needs_sequences = needs_sequences || field == Field::btop || field == Field::qseq || field == Field::sseq;
        if (is_sized(field)) {
            fixed_bound += 1;
            sized_fields.push_back(field);
        } else {
            fixed_bound += 1 + field_bound(field, Run(), Query(), Subject(), Hsp());
        }
    }
}

FieldWriter::FieldWriter(std::vector<Field> fields, RowOutput& output, bool comments, bool header)
    : format_(std::move(fields), comments), output_(output) {
    if (header) {
        std::string line;
        for (Field field : format_.fields) {
            if (!line.empty()) line += '\t';
            line += keyword_of(field);
        }
        output_.write(line + "\n");
    }
}

FieldWriter::FieldWriter(const FieldWriter& same, RowOutput& output) : format_(same.format_), output_(output) {}

void FieldWriter::end_run(const Run& run) {
    // psiblast counts each round's query, PHI-BLAST each query once that
    // shows an alignment.
    bool phi = run.program_line.compare(0, 8, "PHIBLAST") == 0;
    std::uint64_t processed = phi ? run.first_round_queries_aligned : run.queries;
    if (format_.comments && run.queries != 0)
        output_.write("# BLAST processed " + std::to_string(processed) + " queries\n");
}

void FieldWriter::begin_query(const Run&, const Query&) {
    query_rows_.clear();
    query_hits_ = 0;
}

void FieldWriter::end_query(const Run& run, const Query& query) {
    if (!format_.comments) return;
    std::string text = "# " + run.program_line + "\n";
    if (query.round != 0) text += "# Iteration: " + std::to_string(query.round) + "\n";
    text += "# Query: " + query.definition + "\n";
    if (!run.database.empty()) text += "# Database: " + run.database + "\n";
    if (query_hits_ != 0) {
        text += "# Fields: ";
        for (std::size_t i = 0; i < format_.fields.size(); ++i) {
            if (i != 0) text += ", ";
            text += name_of(format_.fields[i]).description;
        }
        text += "\n";
    }
    text += "# " + std::to_string(query_hits_) + " hits found\n";
    output_.write(text);
    output_.write(query_rows_);
    query_rows_.clear();
}

void FieldWriter::row(const Run& run, const Query& query, const Subject& subject, const Hsp& hsp) {
    std::size_t bound = format_.fixed_bound;
    if (format_.standard) {
        bound += sized_bounds(StandardFields(), run, query, subject, hsp);
    } else {
        for (Field field : format_.sized_fields) bound += field_bound(field, run, query, subject, hsp);
    }
    ++query_hits_;
    char* room = format_.comments ? nullptr : output_.room(bound);
    if (room != nullptr) {
        auto size = static_cast<std::size_t>(put_row(room, run, query, subject, hsp) - room);
        assert(size + 7 <= bound);  // the row and what a short text writes past its end
        output_.commit(size);
        return;
    }
    row_.resize(bound);
    row_.resize(static_cast<std::size_t>(put_row(row_.data(), run, query, subject, hsp) - row_.data()));
    assert(row_.size() + 7 <= bound);
    if (format_.comments) {
        query_rows_ += row_;
    } else {
        output_.write(row_);
    }
}

namespace {

// Inlined into its callers, where a call per field costs more than most
// fields take to write.
inline char* put_field(char* out, Field field, const Run& run, const Query& query, const Subject& subject,
                       const Hsp& hsp) {
    switch (field) {
        case Field::qseqid: return put(out, query.id);
        case Field::qlen: return put_number(out, query.length);
        case Field::sseqid: return put(out, subject.id);
        case Field::stitle: return put(out, run.subjects_given ? "N/A" : subject.title);  // -subject has no titles
        case Field::slen: return put_number(out, subject.length);
        case Field::pident: return put_percentage<3>(out, hsp.identities, hsp.length);
        case Field::length: return put_number(out, hsp.length);
        case Field::mismatch: return put_number(out, hsp.length - std::min(hsp.length, hsp.identities + hsp.gaps));
        case Field::gapopen: return put_number(out, hsp.gap_opens);
        case Field::gaps: return put_number(out, hsp.gaps);
        case Field::nident: return put_number(out, hsp.identities);
        case Field::positive: return put_number(out, hsp.positives);
        case Field::ppos: return put_percentage<2>(out, hsp.positives, hsp.length);
        case Field::qstart: return put_number(out, hsp.query_start);
        case Field::qend: return put_number(out, hsp.query_end);
        case Field::sstart: return put_number(out, hsp.subject_start);
        case Field::send: return put_number(out, hsp.subject_end);
        case Field::qframe: return put_signed(out, hsp.query_frame);
        case Field::sframe: return put_signed(out, hsp.subject_frame);
        case Field::frames:
            out = put_signed(out, hsp.query_frame);
            *out++ = '/';
            return put_signed(out, hsp.subject_frame);
        case Field::sstrand:
            if (run.kind != SearchKind::nucleotide) return put(out, "N/A");
            return put(out, hsp.subject_minus ? "minus" : "plus");
        case Field::evalue: return put(out, hsp.evalue);
        case Field::bitscore:
            // BLAST's table writes a bit score below 100 as "%4.1lf": " 9.6".
            if (hsp.bit_score.size() == 3 && hsp.bit_score[1] == '.') *out++ = ' ';
            return put(out, hsp.bit_score);
        case Field::score: return put(out, hsp.raw_score);
        case Field::qcovhsp: {
            // BLAST's rounding, and its counting: the query's letters in the
            // alignment (amino acids where the query is translated) against
            // its length (in nucleotides then), and 99 for a share that rounds to all.
            std::uint64_t coverage =
                query.length == 0 ? 0 : (hsp.query_letters * 200 + query.length) / (2 * query.length);
            if (coverage >= 100 && hsp.query_letters < query.length) coverage = 99;
            return put_number(out, coverage);
        }
        case Field::btop: return put_btop(out, hsp.query_sequence, hsp.subject_sequence);
        case Field::qseq: return put(out, hsp.query_sequence);
        case Field::sseq: return put(out, hsp.subject_sequence);
    }
    return out;
}

// Fields known when compiling, each written by put_field with its case
// chosen then: the standard fields, nearly every run's, take no switch.
template <Field... fields>
char* put_fields(FieldList<fields...>, char* out, const Run& run, const Query& query, const Subject& subject,
                 const Hsp& hsp) {
    ((out = put_field(out, fields, run, query, subject, hsp), *out++ = '\t'), ...);
    out[-1] = '\n';
    return out;
}

}  // namespace

char* FieldWriter::put_row(char* out, const Run& run, const Query& query, const Subject& subject,
                           const Hsp& hsp) const {
    if (format_.standard) {
        return put_fields(StandardFields(), out, run, query, subject, hsp);
    }
    // The bounds held here: a byte written through `out` might, for all the
    // compiler knows, change the vector's own.
    const Field* field = format_.fields.data();
    const Field* last = field + format_.fields.size();
    for (;;) {
        out = put_field(out, *field, run, query, subject, hsp);
        if (++field == last) break;
        *out++ = '\t';
    }
    *out++ = '\n';
    return out;
}

}  // namespace hittab::hsptab
