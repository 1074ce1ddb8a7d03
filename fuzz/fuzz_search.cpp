// The vector searches against the portable ones on arbitrary bytes: the same
// candidate lines with the same line numbers, in batches of any size, from
// any alignment; the same whitespace bits for every window.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "byte_search.hpp"

namespace {

using Finder = std::size_t (*)(const char*&, const char*, std::uint64_t&, hittab::CandidateLine*, std::size_t);

struct Found {
    std::vector<hittab::CandidateLine> lines;
    std::uint64_t last_line_number = 0;
};

Found find_all(const char* begin, const char* end, Finder find, std::size_t batch) {
    Found found;
    std::vector<hittab::CandidateLine> lines(batch);
    std::uint64_t line_number = 1;
    for (const char* position = begin; position != end;) {
        std::size_t count = find(position, end, line_number, lines.data(), batch);
        if (count == 0 && position != end) std::abort();  // no progress
        found.lines.insert(found.lines.end(), lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
    }
    found.last_line_number = line_number;
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || !hittab::avx2_available()) return 0;
    std::size_t batch = 1 + data[0] % 8;
    std::size_t misalignment = data[0] / 8 % 64;
    // The text sits in a buffer with the padding the searches may read.
    std::vector<char> buffer(hittab::text_padding + misalignment + size - 1 + hittab::text_padding, '>');
    char* begin = buffer.data() + hittab::text_padding + misalignment;
    std::memcpy(begin, data + 1, size - 1);
    const char* end = begin + (size - 1);

    Found portable = find_all(begin, end, hittab::find_candidate_lines_portable, batch);
    Found vector = find_all(begin, end, hittab::find_candidate_lines_avx2, batch);
    if (portable.last_line_number != vector.last_line_number || portable.lines.size() != vector.lines.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < portable.lines.size(); ++i) {
        if (portable.lines[i].text != vector.lines[i].text ||
            portable.lines[i].text.data() != vector.lines[i].text.data() ||
            portable.lines[i].line_number != vector.lines[i].line_number) {
            std::abort();
        }
    }
    for (const char* window = begin; window < end; window += 7) {
        if (hittab::whitespace_bits_portable(window) != hittab::whitespace_bits_avx2(window)) std::abort();
    }
    return 0;
}
