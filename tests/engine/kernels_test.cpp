// Every kernel, held to the definitions of its primitives and of the
// searches built on them: the same masks, candidate lines, line numbers and
// tokens as a plain byte-by-byte reading, on any text, alignment and batch.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "conversion.hpp"
#include "kernels.hpp"
#include "padded_text.hpp"

namespace hittab::tests {
namespace {

using namespace std::string_literals;

// `text` inside a buffer whose bytes around it would look like line starts
// and tokens if a search ever let them through; `misalignment` shifts it.
struct Surrounded {
    Surrounded(const std::string& text, std::size_t misalignment)
        : buffer(PaddedBuffer::copy_of(std::string(text_padding + misalignment, '\n') + text +
                                       std::string(text_padding, '>'))),
          view(buffer.view(text_padding + misalignment, text.size())) {}
    PaddedBuffer buffer;
    PaddedView view;
};

// Offset, length and line number of each line found, then the final line number.
using Found = std::vector<std::tuple<std::size_t, std::size_t, std::uint64_t>>;

Found find_all(const Kernel& kernel, const std::string& text, std::size_t batch, std::size_t misalignment = 0) {
    Surrounded surrounded(text, misalignment);
    const char* begin = surrounded.view.data();
    Found found;
    std::vector<CandidateLine> lines(batch);
    std::uint64_t line_number = 1;
    for (PaddedView rest = surrounded.view; !rest.empty();) {
        std::size_t count = kernel.find_candidate_lines(rest, line_number, lines.data(), batch);
        for (std::size_t i = 0; i < count; ++i) {
            found.emplace_back(lines[i].text.data() - begin, lines[i].text.size(), lines[i].line_number);
        }
        if (count == 0 && !rest.empty()) {
            ADD_FAILURE() << "stopped early";
            break;
        }
    }
    found.emplace_back(text.size(), 0, line_number);
    return found;
}

Found find_by_definition(const std::string& text) {
    Found found;
    std::uint64_t line_number = 1;
    for (std::size_t start = 0; start < text.size(); ++line_number) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string::npos ? text.size() : end + 1;
        bool spaced =
            text[start] == ' ' && start + 1 < text.size() && (text[start + 1] == 'S' || text[start + 1] == 'I');
        if (text[start] == '>' || spaced) found.emplace_back(start, next - start, line_number);
        if (end == std::string::npos) break;
        start = next;
    }
    std::uint64_t line_ends = 0;
    for (char c : text) line_ends += c == '\n';
    found.emplace_back(text.size(), 0, line_ends + 1);
    return found;
}

std::vector<std::string> tokens_of(const Kernel& kernel, const std::string& text, std::size_t max_tokens = 1000,
                                   std::size_t misalignment = 0) {
    Surrounded surrounded(text, misalignment);
    std::vector<std::string_view> views(max_tokens);
    std::size_t count = kernel.tokenise(surrounded.view, views.data(), max_tokens);
    return std::vector<std::string>(views.begin(), views.begin() + static_cast<std::ptrdiff_t>(count));
}

using KernelTest = EachKernel;

TEST_P(KernelTest, PrimitivesMarkExactlyTheirBytesAtEveryPosition) {
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte) bytes += static_cast<char>(byte);
    bytes += bytes;
    PaddedBuffer buffer = PaddedBuffer::copy_of(bytes);
    for (std::size_t at = 0; at + 64 <= bytes.size(); at += 3) {
        WindowMasks expected{};
        std::uint64_t expected_equals_signs = 0;
        for (unsigned i = 0; i < 64; ++i) {
            char c = bytes[at + i];
            expected_equals_signs |= std::uint64_t{c == '='} << i;
            expected.line_feeds |= std::uint64_t{c == '\n'} << i;
            expected.spaces |= std::uint64_t{c == ' '} << i;
            expected.greater_thans |= std::uint64_t{c == '>'} << i;
            expected.whitespace |= std::uint64_t{is_whitespace_byte(c)} << i;
        }
        WindowMasks masks = kernel().classify(buffer.data() + at);
        EXPECT_EQ(masks.line_feeds, expected.line_feeds) << "at " << at;
        EXPECT_EQ(masks.spaces, expected.spaces) << "at " << at;
        EXPECT_EQ(masks.greater_thans, expected.greater_thans) << "at " << at;
        EXPECT_EQ(masks.whitespace, expected.whitespace) << "at " << at;
        TokenMasks token_masks = kernel().mark_token_bytes(buffer.data() + at);
        EXPECT_EQ(token_masks.whitespace, expected.whitespace) << "at " << at;
        EXPECT_EQ(token_masks.equals_signs, expected_equals_signs) << "at " << at;
    }
}

TEST_P(KernelTest, LineSearchMatchesTheDefinitionOnRandomText) {
    std::mt19937 random(42);
    const char alphabet[] = {'\n', '>', ' ', 'S', 'I', 'x', '\0', '\xff'};
    for (int round = 0; round < 5000; ++round) {
        std::string text(random() % 300, 'x');
        // Mostly ordinary bytes, so that some lines run across windows.
        int density = 1 + static_cast<int>(random() % 8);
        for (char& c : text) c = static_cast<int>(random() % 16) < density ? alphabet[random() % 8] : 'x';
        std::size_t batch = 1 + random() % 4;
        std::size_t misalignment = random() % 64;
        ASSERT_EQ(find_all(kernel(), text, batch, misalignment), find_by_definition(text))
            << ::testing::PrintToString(text) << " batch " << batch << " misaligned by " << misalignment;
    }
}

TEST_P(KernelTest, LongStretchesWithoutCandidatesCountEveryLine) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "Query  1  ACGTACGT  8\n            ||||||||\nSbjct  1  ACGTACGT  8\n\n";
    std::string score = " Score = 1 bits (2),  Expect = 3\n";
    std::string title = "> " + std::string(200, 'a') + " b c";  // longer than a window, no line end
    text += score + title;
    Found expected = {
        {text.find(" Score"), score.size(), 4001}, {text.find(">"), title.size(), 4002}, {text.size(), 0, 4002}};
    EXPECT_EQ(find_all(kernel(), text, 64), expected);
}

TEST_P(KernelTest, AlignmentMasksMarkExactlyTheTextsLineFeedsSpacesAndDashes) {
    std::mt19937 random(5);
    const char alphabet[] = {'\n', ' ', '-', 'a', '\r', '\t', '\0', '\xff'};
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 400, 'a');
        int density = 1 + static_cast<int>(random() % 8);
        for (char& c : text) c = static_cast<int>(random() % 8) < density ? alphabet[random() % 8] : 'a';
        // Marked bytes all around the text, which must leave no bits.
        std::size_t misalignment = random() % 64;
        PaddedBuffer buffer = PaddedBuffer::copy_of(std::string(misalignment, '-') + text + std::string(64, '\n') +
                                                    std::string(64, ' ') + std::string(64, '-'));
        PaddedView view = buffer.view(misalignment, text.size());
        std::vector<AlignmentMasks> masks((text.size() + 63) / 64, AlignmentMasks{1, 1, 1});
        kernel().mark_alignment_bytes(view, masks.data());
        for (std::size_t window = 0; window < masks.size(); ++window) {
            AlignmentMasks expected{0, 0, 0};
            for (std::size_t i = 0; i < 64 && window * 64 + i < text.size(); ++i) {
                char c = text[window * 64 + i];
                expected.line_feeds |= std::uint64_t{c == '\n'} << i;
                expected.spaces |= std::uint64_t{c == ' '} << i;
                expected.dashes |= std::uint64_t{c == '-'} << i;
            }
            ASSERT_EQ(masks[window].line_feeds, expected.line_feeds)
                << ::testing::PrintToString(text) << " window " << window;
            ASSERT_EQ(masks[window].spaces, expected.spaces) << ::testing::PrintToString(text) << " window " << window;
            ASSERT_EQ(masks[window].dashes, expected.dashes) << ::testing::PrintToString(text) << " window " << window;
        }
    }
}

// Every size from 0 to 200 bytes, whole windows and a cut last one: each
// window gets its masks, the bits past the text are clear, and nothing is
// written after the last window.
TEST_P(KernelTest, AlignmentMasksOfEverySizeAroundWholeWindows) {
    for (std::size_t size = 0; size <= 200; ++size) {
        std::string text(size, ' ');
        for (std::size_t i = 0; i < size; ++i) text[i] = "\n -a"[i % 4];
        PaddedBuffer buffer = PaddedBuffer::copy_of(text + std::string(64, '\n'));
        std::size_t windows = (size + 63) / 64;
        std::vector<AlignmentMasks> masks(windows + 1, AlignmentMasks{7, 7, 7});
        kernel().mark_alignment_bytes(buffer.view(0, size), masks.data());
        for (std::size_t window = 0; window < windows; ++window) {
            std::uint64_t inside = size - window * 64 >= 64 ? ~std::uint64_t{0} : ~(~std::uint64_t{0} << (size % 64));
            ASSERT_EQ(masks[window].line_feeds, 0x1111111111111111ull & inside) << size << " window " << window;
            ASSERT_EQ(masks[window].spaces, 0x2222222222222222ull & inside) << size << " window " << window;
            ASSERT_EQ(masks[window].dashes, 0x4444444444444444ull & inside) << size << " window " << window;
        }
        ASSERT_EQ(masks[windows].line_feeds, 7u) << size;
        ASSERT_EQ(masks[windows].spaces, 7u) << size;
        ASSERT_EQ(masks[windows].dashes, 7u) << size;
    }
}

TEST_P(KernelTest, TokensSplitAtExactlyTheTenWhitespaceBytes) {
    std::string text = " a\tb\nc\vd\fe\rf\x1cg\x1dh\x1ei\x1fj\0k\x85l\xa0m\x1b\x0e\x08\x21 "s;
    EXPECT_EQ(tokens_of(kernel(), text),
              (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j\0k\x85l\xa0m\x1b\x0e\x08!"s}));
}

TEST_P(KernelTest, TokeniserStopsAtTheRequestedCount) {
    EXPECT_EQ(tokens_of(kernel(), "  one two three  ", 2), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(tokens_of(kernel(), " \t\n ", 2), std::vector<std::string>{});
    EXPECT_EQ(tokens_of(kernel(), "", 2), std::vector<std::string>{});
}

TEST_P(KernelTest, TokeniserMatchesAPlainSplitOnRandomText) {
    std::mt19937 random(11);
    const char alphabet[] = {' ', '\t', '\x1f', '\x20', '\x1b', '\0', 'a', '\xa0'};
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 200, 'a');
        int density = 1 + static_cast<int>(random() % 8);
        for (char& c : text) c = static_cast<int>(random() % 8) < density ? alphabet[random() % 8] : 'a';
        std::vector<std::string> expected = split_at_whitespace(text);
        std::size_t max_tokens = 1 + random() % 40;
        if (expected.size() > max_tokens) expected.resize(max_tokens);
        std::size_t misalignment = random() % 64;
        ASSERT_EQ(tokens_of(kernel(), text, max_tokens, misalignment), expected) << ::testing::PrintToString(text);
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelTest, ::testing::ValuesIn(kernel_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(KernelChoice, TheBestKernelIsOneThatRunsHere) {
    const Kernel& best = best_kernel();
    bool found = false;
    for (const KernelAvailability& available : every_kernel()) found = found || available.kernel == &best;
    EXPECT_TRUE(found) << best.name;
    EXPECT_EQ(&best_kernel(), &best);  // chosen once
}

}  // namespace
}  // namespace hittab::tests
