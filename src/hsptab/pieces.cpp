// What a reader of a report in pieces hands from one piece to the next: the
// state a piece read ahead of its turn assumes at its start, the check in
// turn that the lines before it left that state, and the going on from
// where the piece left off.
#include <cassert>

#include "layout_reader.hpp"

namespace hittab::hsptab {

void LayoutReader::end_before_query(std::uint64_t line_number) {
    if (place_ == Place::in_hsp) finish_hsp(line_number);
    finish_query();
}

void LayoutReader::end_before_subject(std::uint64_t line_number) {
    if (place_ == Place::in_hsp) finish_hsp(line_number);
}

std::optional<RunState> LayoutReader::run_state() const {
    if (!knows_run()) return std::nullopt;
    return RunState{run_};
}

std::optional<Query> LayoutReader::open_query() const {
    if (!knows_run() || !query_open_ || place_ == Place::query_definition) return std::nullopt;
    return query_;
}

void LayoutReader::start_piece(const RunState& state) {
    run_ = state.run;
    run_.queries = 0;
    place_ = Place::in_run;
    query_open_ = false;
    closing_ = Closing::open;
    // Decided where the run's first query began, before the piece.
    closing_settled_ = true;
    programs_read_ = 0;
    unaligned_ = UnalignedSubjects();
    listed_subjects_ = aligned_subjects_ = 0;
    began_in_query_ = carried_query_open_ = carried_query_ended_ = false;
    carried_aligned_ = 0;
    run_.first_round_queries = run_.first_round_queries_aligned = 0;
    unnamed_subjects_ = 0;
    reading_piece_ = true;
    named_query_by_number_ = false;
}

void LayoutReader::start_piece_in_query(const RunState& state, const Query& query) {
    start_piece(state);
    query_ = query;
    writer_.begin_query(run_, query_);
    query_open_ = true;
    place_ = Place::in_subject;
    began_in_query_ = carried_query_open_ = true;
}

bool LayoutReader::continues_with(const RunState& state) const {
    return knows_run() && !query_open_ && place_ != Place::in_hsp && RunState{run_} == state;
}

bool LayoutReader::continues_in_query_with(const RunState& state, const Query& query) const {
    if (!knows_run() || !query_open_ || RunState{run_} != state || !same_query(query_, query)) return false;
    // The places where a title begins a subject and leaves nothing else open.
    switch (place_) {
        case Place::in_query:
        case Place::summary:
        case Place::in_subject: return true;
        case Place::before_program:
        case Place::web_preamble:
        case Place::in_run:
        case Place::query_definition:
        case Place::subject_title:
        case Place::web_more_titles:
        case Place::in_hsp: return false;
    }
    return false;
}

void LayoutReader::go_on_after(const LayoutReader& piece) {
    assert(piece.programs_read_ == 0);
    // The query open here, and perhaps ended in the piece, first.
    bool carried_open = piece.began_in_query_ && piece.carried_query_open_;
    if (piece.began_in_query_ && piece.carried_query_ended_) {
        aligned_subjects_ += piece.carried_aligned_;
        count_unaligned();
    }
    unaligned_.add(piece.unaligned_);
    std::uint64_t listed = carried_open ? listed_subjects_ : piece.listed_subjects_;
    std::uint64_t aligned = carried_open ? aligned_subjects_ + piece.aligned_subjects_ : piece.aligned_subjects_;
    std::uint64_t queries = run_.queries + piece.run_.queries;
    std::uint64_t first_round_queries = run_.first_round_queries + piece.run_.first_round_queries;
    std::uint64_t first_round_queries_aligned =
        run_.first_round_queries_aligned + piece.run_.first_round_queries_aligned;
    run_ = piece.run_;
    run_.queries = queries;
    run_.first_round_queries = first_round_queries;
    run_.first_round_queries_aligned = first_round_queries_aligned;
    unnamed_subjects_ += piece.unnamed_subjects_;
    place_ = piece.place_;
    query_ = piece.query_;
    subject_ = piece.subject_;
    hsp_ = piece.hsp_;
    alignment_ = piece.alignment_;
    query_open_ = piece.query_open_;
    definition_line_ = piece.definition_line_;
    title_length_pending_ = piece.title_length_pending_;
    title_length_line_ = piece.title_length_line_;
    title_length_line_number_ = piece.title_length_line_number_;
    title_ended_ = piece.title_ended_;
    title_merged_ = piece.title_merged_;
    first_title_line_ = piece.first_title_line_;
    first_title_line_wraps_ = piece.first_title_line_wraps_;
    pattern_place_read_ = piece.pattern_place_read_;
    closing_ = piece.closing_;
    last_line_ended_ = piece.last_line_ended_;
    listed_subjects_ = listed;
    aligned_subjects_ = aligned;
    subject_aligned_ = piece.subject_aligned_;
    list_line_after_blank_ = piece.list_line_after_blank_;
    cited_ = cited_ || piece.cited_;
    hsp_line_number_ = piece.hsp_line_number_;
}

}  // namespace hittab::hsptab
