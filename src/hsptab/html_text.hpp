// A report BLAST+ wrote with -html, read as the text it shows: its lines
// between <PRE> and </PRE> with their tags left out and their entities
// decoded. Every line keeps its place, so that line numbers stay the file's.
#pragma once

#include <string>
#include <string_view>

#include "padded_text.hpp"

namespace hittab::hsptab {

// Whether `first_bytes`, the report's first bytes, begin an HTML page.
bool begins_html(std::string_view first_bytes);

// Whether the report open as `descriptor` (a regular file) begins an HTML
// page.
bool is_html_report(int descriptor);

class HtmlText {
public:
    // The text that `lines`, whole lines of the page, show; valid until the
    // next call.
    PaddedView text_of(PaddedView lines);
    // Whether a <PRE> has begun the report's text and a </PRE> ended it.
    bool text_ended() const { return text_begun_ && !in_pre_; }

private:
    void end_tag();

    PaddedBuffer text_{0};
    bool in_pre_ = false;  // between <PRE> and </PRE>
    bool text_begun_ = false;
    bool in_tag_ = false;      // between < and >
    std::string tag_name_;     // of the tag being read, lower case
    bool line_begun_ = false;  // the line being read has shown a character
    // BLAST's HTML puts an anchor and a space after the ">" that begins a
    // title, where its text report has neither.
    bool title_mark_ = false;
    bool anchor_after_mark_ = false;
};

}  // namespace hittab::hsptab
