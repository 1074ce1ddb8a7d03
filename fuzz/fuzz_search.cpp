// Every vector kernel against the portable one on arbitrary bytes: the same
// candidate lines with the same line numbers, in batches of any size, from
// any alignment; the same tokens; the same masks for every window.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "kernel.hpp"
#include "padded_text.hpp"

namespace {

struct Found {
    std::vector<hittab::CandidateLine> lines;
    std::uint64_t last_line_number = 0;
};

Found find_all(const hittab::Kernel& kernel, hittab::PaddedView text, std::size_t batch) {
    Found found;
    std::vector<hittab::CandidateLine> lines(batch);
    std::uint64_t line_number = 1;
    while (!text.empty()) {
        std::size_t count = kernel.find_candidate_lines(text, line_number, lines.data(), batch);
        if (count == 0 && !text.empty()) std::abort();  // no progress
        found.lines.insert(found.lines.end(), lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
    }
    found.last_line_number = line_number;
    return found;
}

void require_same_lines(const Found& expected, const Found& found) {
    if (expected.last_line_number != found.last_line_number || expected.lines.size() != found.lines.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < expected.lines.size(); ++i) {
        if (expected.lines[i].text.data() != found.lines[i].text.data() ||
            expected.lines[i].text.size() != found.lines[i].text.size() ||
            expected.lines[i].line_number != found.lines[i].line_number) {
            std::abort();
        }
    }
}

std::vector<hittab::AlignmentMasks> alignment_masks(const hittab::Kernel& kernel, hittab::PaddedView text) {
    std::vector<hittab::AlignmentMasks> masks((text.size() + 63) / 64);
    kernel.mark_alignment_bytes(text, masks.data());
    return masks;
}

bool same_masks(const std::vector<hittab::AlignmentMasks>& a, const std::vector<hittab::AlignmentMasks>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].line_feeds != b[i].line_feeds || a[i].spaces != b[i].spaces || a[i].dashes != b[i].dashes) {
            return false;
        }
    }
    return a.size() == b.size();
}

void require_same_tokens(const hittab::Kernel& expected, const hittab::Kernel& kernel, hittab::PaddedView text,
                         std::size_t max_tokens) {
    std::vector<std::string_view> want(max_tokens), got(max_tokens);
    std::size_t want_count = expected.tokenise(text, want.data(), max_tokens);
    std::size_t got_count = kernel.tokenise(text, got.data(), max_tokens);
    if (want_count != got_count) std::abort();
    for (std::size_t i = 0; i < want_count; ++i) {
        if (want[i].data() != got[i].data() || want[i].size() != got[i].size()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t batch = 1 + data[0] % 8;
    std::size_t misalignment = data[0] / 8 % 64;
    // The text sits in a padded buffer, surrounded by bytes that would look
    // like line starts if a search let them through.
    std::size_t text_size = size - 1;
    hittab::PaddedBuffer buffer(misalignment + text_size + 64);
    std::memset(buffer.data(), '>', buffer.capacity());
    std::memcpy(buffer.data() + misalignment, data + 1, text_size);
    hittab::PaddedView text = buffer.view(misalignment, text_size);

    const hittab::Kernel& portable = *hittab::every_kernel().front().kernel;
    Found expected = find_all(portable, text, batch);
    for (const hittab::KernelAvailability& available : hittab::every_kernel()) {
        if (available.kernel == nullptr || available.kernel == &portable) continue;
        const hittab::Kernel& kernel = *available.kernel;
        require_same_lines(expected, find_all(kernel, text, batch));
        require_same_tokens(portable, kernel, text, 1 + data[0] % 64);
        if (!same_masks(alignment_masks(portable, text), alignment_masks(kernel, text))) std::abort();
        for (std::size_t at = 0; at < text_size; at += 7) {
            if (!(portable.classify(text.data() + at) == kernel.classify(text.data() + at))) std::abort();
            hittab::TokenMasks token_masks = kernel.mark_token_bytes(text.data() + at);
            hittab::TokenMasks portable_masks = portable.mark_token_bytes(text.data() + at);
            if (token_masks.whitespace != portable_masks.whitespace ||
                token_masks.equals_signs != portable_masks.equals_signs) {
                std::abort();
            }
        }
    }
    return 0;
}
