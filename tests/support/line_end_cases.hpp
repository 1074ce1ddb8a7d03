// Reports with every kind of line end, and the text a reader must hand out
// for each: LF, CR LF and lone CR all made one LF.
#pragma once

#include <string>
#include <vector>

namespace hittab::tests {

struct LineEndCase {
    std::string report, expected;
};

inline const std::vector<LineEndCase>& line_end_cases() {
    static const std::vector<LineEndCase> cases = {
        {"", ""},
        {"a\nb\n", "a\nb\n"},
        {"a\r\nb\r\n", "a\nb\n"},
        {"a\rb\r", "a\nb\n"},
        {"a\r\r\nb", "a\n\nb"},
        {"\r\n\r\n\r", "\n\n\n"},
        {"\n\r\r\n\n", "\n\n\n\n"},
        {"last line without end", "last line without end"},
        {"x\r\ny\rz", "x\ny\nz"},
    };
    return cases;
}

}  // namespace hittab::tests
