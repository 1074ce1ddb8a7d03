// The lines of a query's definition and of a subject's title. BLAST wraps
// both, and a wrapped line may begin with anything the text holds ("Query=",
// ">", "Length=12", a program's name): every line is the text's until the
// line that ends it, decided by where it stands.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "layout_reader.hpp"
#include "text_words.hpp"

namespace hittab::hsptab {

namespace {

// BLAST+ wraps a query's definition as NCBI's flat-file wrapping does, into
// lines of at most 68 columns (after "Query= " on the first): at the last
// space that fits, dropping the spaces there; failing a space, after the
// last comma that fits, then after the last hyphen; failing those, at 68
// columns. In an HTML page (-html) any punctuation but an opening bracket
// takes the hyphen's part, and only the space of the cut is dropped.
constexpr std::size_t definition_width = 68;

// Where the wrapping may cut after a character other than a space.
bool is_cut_mark(char c, bool html) {
    if (!html) return c == '-';
    return std::ispunct(static_cast<unsigned char>(c)) && c != ',' &&
           std::string_view("([{<`").find(c) == std::string_view::npos;
}

bool holds_cut_mark(std::string_view text, bool html) {
    return std::any_of(text.begin(), text.end(), [&](char c) { return is_cut_mark(c, html); });
}

// Whether the line after `last`, which ends `definition`, goes on after a
// dropped space. A line of one word that ends after a comma or a hyphen, or
// fills the width, was cut inside the word, unless a cut there could not
// have been: a comma within the width (a hyphen too, after a hyphen) would
// have been cut after instead, as would a hyphen or comma inside a line
// that fills the width. A word that ends in a hyphen or comma before a
// space at the width wraps as such a cut does: it is read as the cut.
bool continues_after_space(const std::string& definition, DefinitionLine last, std::string_view next, bool html) {
    std::string_view line = std::string_view(definition).substr(last.begins);
    if (line.find(' ') != std::string_view::npos) return true;
    if (line.empty()) return false;
    char end = line.back();
    std::string_view before_end = line.substr(0, line.size() - 1);
    bool holds_comma = before_end.find(',') != std::string_view::npos;
    bool cut_after_end = end == ',' || is_cut_mark(end, html);
    if (last.columns >= definition_width) return !cut_after_end && (holds_comma || holds_cut_mark(before_end, html));
    if (!cut_after_end) return true;
    // In HTML, past the ID, a word that ends in a bracket or a stop before
    // a long one is likelier than such a cut.
    if (html && end != '-' && end != ',' && definition.find(' ') != std::string::npos) return true;
    std::string_view head = next.substr(0, definition_width - last.columns - 1);
    if (end == ',') return head.find(',') != std::string_view::npos;
    return holds_comma || head.find(',') != std::string_view::npos || holds_cut_mark(head, html);
}

// A line without its line end, and without the CR of a CR LF.
std::string_view without_cr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

void LayoutReader::begin_definition(std::string_view line) {
    // `line` is the "Query=" line; the width leaves out "Query= ".
    std::string_view text = without_cr(line);
    std::string_view definition = text.substr(text.size() > 6 ? 7 : 6);
    copy_into(query_.definition, definition);
    definition_line_ = DefinitionLine{definition.size(), 0, false};
    if (run_.legacy) {
        query_.definition = std::string(trim(definition));
        definition_line_.columns = query_.definition.size();
    }
}

void LayoutReader::read_query_definition(std::string_view line, std::uint64_t line_number) {
    std::string_view text = trim(line);
    // BLAST+ writes the length after a blank line, or straight after an
    // empty definition; blastall "(285 letters)", indented, after its last
    // line.
    if (starts_with(text, "Length=") && (definition_line_.ended || (!run_.legacy && query_.definition.empty()))) {
        text.remove_prefix(7);
        if (!take_number(text, query_.length)) fail("a query length that is not a number", line_number);
        end_definition();
        return;
    }
    if (text.empty()) {
        definition_line_.ended = true;
        return;
    }
    if (run_.legacy && text.front() == '(' && line.front() == ' ' && text.find(" letters)") != std::string_view::npos) {
        text.remove_prefix(1);
        std::string digits;
        for (char c : text.substr(0, text.find(' '))) {
            if (c != ',') digits += c;
        }
        std::string_view number = digits;
        if (!take_number(number, query_.length)) fail("a query length that is not a number", line_number);
        end_definition();
        return;
    }
    if (run_.legacy || definition_line_.ended) {
        // blastall cuts a word too long for a line into lines of 68.
        std::string_view last = std::string_view(query_.definition).substr(definition_line_.begins);
        if (last.find(' ') == std::string_view::npos && definition_line_.columns == definition_width &&
            !definition_line_.ended) {
            query_.definition += text;
        } else {
            append_wrapped(query_.definition, text);
        }
        // The line's text ends the definition (append_wrapped makes a tab three spaces).
        std::size_t appended =
            std::min(query_.definition.size(),
                     text.size() + 2 * static_cast<std::size_t>(std::count(text.begin(), text.end(), '\t')));
        definition_line_ = DefinitionLine{text.size(), query_.definition.size() - appended, false};
        return;
    }
    std::string_view next = without_cr(line);
    if (continues_after_space(query_.definition, definition_line_, next, html_)) query_.definition += ' ';
    definition_line_ = DefinitionLine{next.size(), query_.definition.size(), false};
    query_.definition.append(next.data(), next.size());
}

void LayoutReader::end_definition() {
    while (!query_.definition.empty() && is_space(query_.definition.back())) query_.definition.pop_back();
    if (query_.id.empty()) assign_first_word(query_.id, query_.definition);
    // BLAST+ names a query without a definition line by its place.
    if (query_.id.empty() && !run_.legacy) {
        query_.id = "Query_" + std::to_string(run_.first_round_queries);
        named_query_by_number_ = named_query_by_number_ || reading_piece_;
    }
    place_ = Place::in_query;
}

namespace {

// BLAST+ wraps a definition line of a subject after the first space that
// comes 60 or more characters into its title, and again 60 on: a first line
// ends where it was wrapped only if it ends in such a space. The title is
// counted from the line's start or, for a parsed ID, from after the ID.
bool may_wrap_after(std::string_view line) {
    if (line.empty() || !is_space(line.back())) return false;
    std::size_t id_end = line.find(' ');
    for (std::size_t from : {std::size_t{0}, id_end == std::string_view::npos ? line.size() : id_end + 1}) {
        if (line.size() < from + 61) continue;
        std::string_view counted = line.substr(from);
        // The first space 60 or more in, the line's last.
        if (std::none_of(counted.begin() + 60, counted.end() - 1, is_space)) return true;
    }
    return false;
}

}  // namespace

void LayoutReader::start_subject(std::string_view title) {
    subject_.reset();
    title_length_pending_ = false;
    title_ended_ = false;
    title_merged_ = false;
    first_title_line_ = false;
    append_title_line(without_cr(title));
    first_title_line_ = true;
    first_title_line_wraps_ = !title.empty() && is_space(title.back()) && may_wrap_after(without_cr(title));
    subject_aligned_ = false;
    closing_ = Closing::open;
    place_ = Place::subject_title;
}

// BLAST+ wraps a title after a space and keeps the space: its lines join
// as they are (a line that lost its last space to an editor takes one
// back). blastall indents its further lines, and the web page does not
// wrap.
void LayoutReader::append_title_line(std::string_view line) {
    if (title_merged_) return;
    if (!subject_.title.empty()) {
        // The further definition lines of an entry that stands for several
        // (NCBI's merged nr and nt entries) begin with one space, after a
        // line that BLAST+ did not wrap: BLAST's stitle is the first's
        // title alone. blastall indents wrapped lines further.
        if (!web_layout() && line.size() > 1 && line[0] == ' ' && !is_space(line[1])) {
            bool wrapped_here = first_title_line_ ? first_title_line_wraps_ : is_space(subject_.title.back());
            if (run_.legacy || !wrapped_here) {
                title_merged_ = true;
                return;
            }
        }
        if (!run_.legacy && !web_layout() && !line.empty() && !is_space(subject_.title.back()) &&
            !is_space(line.front())) {
            subject_.title += ' ';
        }
    }
    first_title_line_ = false;
    if (run_.legacy || web_layout()) {
        append_wrapped(subject_.title, line);
        return;
    }
    std::size_t kept = subject_.title.size();
    subject_.title.append(line.data(), line.size());
    if (std::memchr(line.data(), '\t', line.size()) == nullptr) return;
    // A tab is three spaces in BLAST's tables, and in this one.
    for (std::size_t tab = subject_.title.find('\t', kept); tab != std::string::npos;
         tab = subject_.title.find('\t', tab + 3)) {
        subject_.title.replace(tab, 1, "   ");
    }
}

void LayoutReader::read_subject_title(LineKind kind, std::string_view line, std::uint64_t line_number) {
    std::string_view text = trim(line);
    // BLAST+ may wrap the spaces that end a title onto a line of their own;
    // blastall follows the length with a line of spaces.
    bool blank = run_.legacy ? text.empty() : without_cr(line).empty();
    if (title_length_pending_) {
        title_length_pending_ = false;
        // BLAST+ writes a blank line after the length; a Score line
        // straight after it is the subject's first alignment.
        bool score_follows = starts_with(line, " Score =");
        if (blank || score_follows) {
            read_subject_length(trim(title_length_line_), title_length_line_number_);
            if (score_follows) read_line(line, line_number);
            return;
        }
        // More of the title follows: the line was the title's.
        append_title_line(without_cr(title_length_line_));
    }
    if (title_ended_) {
        // A blank line ended a title that had no length: a new title or the
        // length may follow.
        if (kind == LineKind::subject_title) {
            start_subject(line.substr(1));
            return;
        }
        if (!is_length_line(text)) return;
        read_subject_length(text, line_number);
        return;
    }
    if (blank) {
        title_ended_ = true;
        return;
    }
    if (is_length_line(text)) {
        title_length_pending_ = true;
        title_length_line_.assign(line.data(), line.size());
        title_length_line_number_ = line_number;
        return;
    }
    if (starts_with(text, "Sequence ID: ") && web_layout()) {
        read_sequence_id_line(text, line_number);
        return;
    }
    append_title_line(without_cr(line));
}

void LayoutReader::read_sequence_id_line(std::string_view text, std::uint64_t line_number) {
    // web: "Sequence ID: WP_003221446.1 Length: 239"
    std::size_t length_at = text.rfind(" Length: ");
    if (length_at == std::string_view::npos) fail("a Sequence ID line without its Length", line_number);
    subject_.id = std::string(trim(text.substr(13, length_at - 13)));
    if (std::any_of(subject_.id.begin(), subject_.id.end(), is_space)) {
        fail("a Sequence ID that holds a space or a tab", line_number);
    }
    std::string_view length = trim(text.substr(length_at + 9));
    if (!take_number(length, subject_.length)) fail("a subject length that is not a number", line_number);
    place_ = Place::web_more_titles;
}

void LayoutReader::read_subject_length(std::string_view text, std::uint64_t line_number) {
    text.remove_prefix(text[6] == '=' ? 7 : 8);
    text = skip_spaces(text);
    if (!take_number(text, subject_.length)) fail("a subject length that is not a number", line_number);
    assign_first_word(subject_.id, subject_.title);
    switch (name_shown()) {
        case NameShown::definition: break;
        case NameShown::none:
            // BLAST's table names such a subject by its place in the
            // database (gnl|BL_ORD_ID|7) or among the -subject sequences
            // (Subject_2), which the report does not show.
            subject_.id = "N/A";
            ++unnamed_subjects_;
            [[fallthrough]];
        case NameShown::unnamed_protein:
            subject_.title = "N/A";
            place_ = Place::in_subject;
            return;
    }
    if (run_.profiles) {
        // Profile databases always name their entries: the title is what follows.
        std::string_view title = subject_.title;
        title = skip_spaces(title);
        take_word(title);
        subject_.title = std::string(skip_spaces(title));
    }
    place_ = Place::in_subject;
}

// BLAST+ shows a subject without a definition line as an empty title, or
// in a protein database as "unnamed protein product", whose first word
// BLAST's table keeps as the ID.
LayoutReader::NameShown LayoutReader::name_shown() const {
    if (run_.legacy || web_layout()) return NameShown::definition;
    // Most titles begin with their ID.
    if (!subject_.title.empty() && !is_space(subject_.title[0]) && subject_.title.size() != 23) {
        return NameShown::definition;
    }
    std::string_view title = trim(subject_.title);
    if (title.empty()) return NameShown::none;
    bool protein_subjects = run_.kind == SearchKind::protein || run_.kind == SearchKind::translated_query;
    if (protein_subjects && title == "unnamed protein product") return NameShown::unnamed_protein;
    return NameShown::definition;
}

bool LayoutReader::reads_next_line_anew() const {
    return place_ != Place::subject_title && !(place_ == Place::query_definition && !definition_line_.ended);
}

}  // namespace hittab::hsptab
