#include "field_writer.hpp"

#include <array>
#include <charconv>
#include <cstdio>

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

constexpr std::array<Field, 12> standard_fields = {Field::qseqid,   Field::sseqid,  Field::pident, Field::length,
                                                   Field::mismatch, Field::gapopen, Field::qstart, Field::qend,
                                                   Field::sstart,   Field::send,    Field::evalue, Field::bitscore};

const FieldName& name_of(Field field) { return field_names[static_cast<std::size_t>(field)]; }

void append_number(std::string& text, std::uint64_t number) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    text.append(digits, static_cast<std::size_t>(end - digits));
}

void append_signed(std::string& text, int number) {
    char digits[16];
    char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    text.append(digits, static_cast<std::size_t>(end - digits));
}

}  // namespace

// Whole numbers do it faster than printf; only an exact tie, where the
// double's own rounding decides, goes to printf.
void append_percentage(std::string& text, std::uint64_t part, std::uint64_t whole, int decimals) {
    std::uint64_t scale = decimals == 3 ? 1000 : 100;
    if (whole == 0 || part > whole || whole > (std::uint64_t{1} << 40)) {
        char buffer[64];
        double value = whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        text += buffer;
        return;
    }
    std::uint64_t numerator = 100 * scale * part;
    std::uint64_t scaled = numerator / whole, remainder = numerator % whole;
    if (2 * remainder == whole) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals,
                      100.0 * static_cast<double>(part) / static_cast<double>(whole));
        text += buffer;
        return;
    }
    if (2 * remainder > whole) ++scaled;
    append_number(text, scaled / scale);
    text += '.';
    std::uint64_t fraction = scaled % scale;
    if (decimals == 3 && fraction < 100) text += '0';
    if (fraction < 10) text += '0';
    append_number(text, fraction);
}

namespace {

// BLAST's trace-back operations: runs of identical columns as their count,
// every other column as its query and subject letters.
void append_btop(std::string& text, const std::string& query, const std::string& subject) {
    std::uint64_t identical = 0;
    for (std::size_t i = 0; i < query.size() && i < subject.size(); ++i) {
        if (query[i] != '-' && query[i] == subject[i]) {
            ++identical;
            continue;
        }
        if (identical != 0) append_number(text, identical);
        identical = 0;
        text += query[i];
        text += subject[i];
    }
    if (identical != 0) append_number(text, identical);
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
    return fields;
}

std::string_view keyword_of(Field field) { return name_of(field).keyword; }

FieldWriter::FieldWriter(std::vector<Field> fields, RowOutput& output, bool comments, bool header)
    : fields_(std::move(fields)), output_(output), comments_(comments) {
    for (Field field : fields_) {
        needs_sequences_ = needs_sequences_ || field == Field::btop || field == Field::qseq || field == Field::sseq;
    }
    if (header) {
        std::string line;
        for (Field field : fields_) {
            if (!line.empty()) line += '\t';
            line += keyword_of(field);
        }
        output_.write(line + "\n");
    }
}

void FieldWriter::begin_run(const Run&) {}

void FieldWriter::end_run(const Run& run) {
    if (comments_ && run.queries != 0) output_.write("# BLAST processed " + std::to_string(run.queries) + " queries\n");
}

void FieldWriter::begin_query(const Run&, const Query&) {
    query_rows_.clear();
    query_hits_ = 0;
}

void FieldWriter::end_query(const Run& run, const Query& query) {
    if (!comments_) return;
    std::string text = "# " + run.program_line + "\n";
    if (query.round != 0) text += "# Iteration: " + std::to_string(query.round) + "\n";
    text += "# Query: " + query.definition + "\n";
    if (!run.database.empty()) text += "# Database: " + run.database + "\n";
    if (query_hits_ != 0) {
        text += "# Fields: ";
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i != 0) text += ", ";
            text += name_of(fields_[i]).description;
        }
        text += "\n";
    }
    text += "# " + std::to_string(query_hits_) + " hits found\n";
    output_.write(text);
    output_.write(query_rows_);
    query_rows_.clear();
}

void FieldWriter::row(const Run& run, const Query& query, const Subject& subject, const Hsp& hsp) {
    row_.clear();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i != 0) row_ += '\t';
        append_field(row_, fields_[i], run, query, subject, hsp);
    }
    row_ += '\n';
    ++query_hits_;
    if (comments_) {
        query_rows_ += row_;
    } else {
        output_.write(row_);
    }
}

void FieldWriter::append_field(std::string& text, Field field, const Run& run, const Query& query,
                               const Subject& subject, const Hsp& hsp) const {
    switch (field) {
        case Field::qseqid: text += query.id; break;
        case Field::qlen: append_number(text, query.length); break;
        case Field::sseqid: text += subject.id; break;
        case Field::stitle: text += run.subjects_given ? "N/A" : subject.title; break;  // -subject has no titles
        case Field::slen: append_number(text, subject.length); break;
        case Field::pident: append_percentage(text, hsp.identities, hsp.length, 3); break;
        case Field::length: append_number(text, hsp.length); break;
        case Field::mismatch: append_number(text, hsp.length - hsp.identities - hsp.gaps); break;
        case Field::gapopen: append_number(text, hsp.gap_opens); break;
        case Field::gaps: append_number(text, hsp.gaps); break;
        case Field::nident: append_number(text, hsp.identities); break;
        case Field::positive: append_number(text, hsp.positives); break;
        case Field::ppos: append_percentage(text, hsp.positives, hsp.length, 2); break;
        case Field::qstart: append_number(text, hsp.query_start); break;
        case Field::qend: append_number(text, hsp.query_end); break;
        case Field::sstart: append_number(text, hsp.subject_start); break;
        case Field::send: append_number(text, hsp.subject_end); break;
        case Field::qframe: append_signed(text, hsp.query_frame); break;
        case Field::sframe: append_signed(text, hsp.subject_frame); break;
        case Field::frames:
            append_signed(text, hsp.query_frame);
            text += '/';
            append_signed(text, hsp.subject_frame);
            break;
        case Field::sstrand:
            if (run.kind == SearchKind::nucleotide) {
                text += hsp.subject_minus ? "minus" : "plus";
            } else {
                text += "N/A";
            }
            break;
        case Field::evalue: text += hsp.evalue; break;
        case Field::bitscore: text += hsp.bit_score; break;
        case Field::score: text += hsp.raw_score; break;
        case Field::qcovhsp: {
            // BLAST's rounding, and its counting: the query's letters in the
            // alignment (amino acids where the query is translated) against
            // its length (in nucleotides then), and 99 for a part that rounds to all.
            std::uint64_t coverage =
                query.length == 0 ? 0 : (hsp.query_letters * 200 + query.length) / (2 * query.length);
            if (coverage >= 100 && hsp.query_letters < query.length) coverage = 99;
            append_number(text, coverage);
            break;
        }
        case Field::btop: append_btop(text, hsp.query_sequence, hsp.subject_sequence); break;
        case Field::qseq: text += hsp.query_sequence; break;
        case Field::sseq: text += hsp.subject_sequence; break;
    }
}

}  // namespace hittab::hsptab
