#include "html_text.hpp"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace hittab::hsptab {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The character an entity at `text` (after its '&', up to its ';') stands
// for, or 0 for one BLAST does not write.
char decoded(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    if (name == "nbsp") return ' ';
    if (name.size() >= 2 && name[0] == '#') {
        bool hex = name[1] == 'x' || name[1] == 'X';
        std::uint32_t value = 0;
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 3) return 0;
        for (char c : digits) {
            int digit = c >= '0' && c <= '9'                        ? c - '0'
                        : hex && lower(c) >= 'a' && lower(c) <= 'f' ? lower(c) - 'a' + 10
                                                                    : -1;
            if (digit < 0) return 0;
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
        }
        if (value >= 0x20 && value < 0x7F) return static_cast<char>(value);
    }
    return 0;
}

}  // namespace

bool begins_html(std::string_view first_bytes) {
    std::size_t at = 0;
    while (at < first_bytes.size() && (first_bytes[at] == ' ' || first_bytes[at] == '\n' || first_bytes[at] == '\r')) {
        ++at;
    }
    std::string_view start = first_bytes.substr(at, 5);
    std::string lowered(start);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), lower);
    return lowered == "<html";
}

bool is_html_report(int descriptor) {
    char first_bytes[256];
    ssize_t got = pread(descriptor, first_bytes, sizeof first_bytes, 0);
    return got > 0 && begins_html(std::string_view(first_bytes, static_cast<std::size_t>(got)));
}

void HtmlText::end_tag() {
    in_tag_ = false;
    if (tag_name_ == "pre") in_pre_ = text_begun_ = true;
    if (tag_name_ == "/pre") in_pre_ = false;
    if (title_mark_) anchor_after_mark_ = true;
}

PaddedView HtmlText::text_of(PaddedView lines) {
    text_.grow(lines.size());
    char* out = text_.data();
    const char* p = lines.data();
    const char* end = p + lines.size();
    while (p < end) {
        char c = *p++;
        if (c == '\n') {
            *out++ = '\n';
            line_begun_ = title_mark_ = anchor_after_mark_ = false;
            continue;
        }
        if (in_tag_) {
            if (c == '>') {
                end_tag();
            } else if (tag_name_.size() < 8 && c != ' ' && c != '\t' && c != '\r') {
                tag_name_ += lower(c);
            } else if (tag_name_.size() < 8) {
                tag_name_ += ' ';  // the name has ended
            }
            continue;
        }
        if (c == '<') {
            in_tag_ = true;
            tag_name_.clear();
            continue;
        }
        if (!in_pre_) continue;
        if (c == '&') {
            const char* semicolon = std::find(p, std::min(end, p + 8), ';');
            char entity = semicolon < end && *semicolon == ';' ? decoded(std::string_view(p, semicolon - p)) : 0;
            if (entity != 0) {
                c = entity;
                p = semicolon + 1;
            }
        }
        if (anchor_after_mark_) {
            anchor_after_mark_ = title_mark_ = false;
            if (c == ' ') continue;
        }
        title_mark_ = !line_begun_ && c == '>';
        line_begun_ = true;
        *out++ = c;
    }
    auto size = static_cast<std::size_t>(out - text_.data());
    // The kernels read up to a window past the text: bytes they may read are defined.
    std::fill(out, text_.data() + std::min(text_.capacity(), size + text_padding), '\0');
    return text_.view(0, size);
}

}  // namespace hittab::hsptab
