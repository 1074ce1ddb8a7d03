// Reports no BLAST program would write, run through the built binary: each
// converts or fails with its proper message, exactly as the reference
// converter says, in bounded time and memory. Memory is bounded by limiting
// the address space: a run that needed more would fail for want of memory.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "conversion.hpp"
#include "run_hittab.hpp"
#include "scratch_dir.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HITTAB_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HITTAB_SANITIZED 1
#endif

// The address space limit holds only where the process maps what it uses.
// AddressSanitizer and ThreadSanitizer reserve a huge shadow; qemu-user maps a large guest space
// for itself and ignores an emulated RLIMIT_AS. There the report still goes
// through the binary and is checked, only without the memory limit.
#if !defined(HITTAB_SANITIZED) && !defined(HITTAB_EMULATOR)
#define HITTAB_MEMORY_LIMITED 1
#endif

namespace hittab::tests {
namespace {

using namespace std::string_literals;

std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

std::string binary_noise(std::size_t size) {
    std::mt19937 random(2026);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    // Sprinkle the line starts that matter, so that the noise reaches the scanner.
    for (std::size_t at = 0; at + 16 < size; at += 1 + random() % 200)
        bytes.replace(at, 9, random() % 2 ? "\n> a b c\n" : "\n Score = ");
    return bytes;
}

struct Case {
    const char* name;
    std::function<std::string()> make_report;  // built when its test runs, not when the tests are listed
    rlim_t memory_limit;  // address space allowed, in bytes (sanitized and emulated builds are not held to it)
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class HostileInput : public ::testing::TestWithParam<Case> {};

TEST_P(HostileInput, ConvertsOrFailsExactlyAsTheReferenceSays) {
    const Case& c = GetParam();
    std::string report = c.make_report();
    ScratchDir dir;
    write_file(dir / "r", report);
    Limits limits;
#ifdef HITTAB_MEMORY_LIMITED
    limits.address_space = c.memory_limit;
#endif
    Finished run = run_hittab(dir, {"r", "t"}, limits);
    Outcome expected = convert_by_reference(report);

    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(read_file(dir / "t") == expected.table) << "the table differs";  // not printed: it can be huge
    if (expected.failed) {
        const char* kind = expected.kind == FailureKind::unpacking ? "unpacking" : "index";
        EXPECT_EQ(run.status, 1);
        std::string hint = expected.kind == FailureKind::unpacking
                               ? "hittab: hittab reads reports against read databases, whose titles look like "
                                 "'ID NAME length=N'; hsptab reads every other BLAST report\n"
                               : "";
        EXPECT_EQ(run.err, "hittab: "s + kind + " failure at line " + std::to_string(expected.line_number) +
                               " of 'r': " + expected.message + "\n" + hint);
    } else {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
}

// Program, libraries and buffers fit in this; a report held whole would not.
const rlim_t small = rlim_t{16} << 20;

std::vector<Case> cases() {
    static const std::string hit = "> a b c\n";
    return {
        {"NulAndHighBytesPassThrough",
         [] { return "> a\0b c\xff d\x80\n Strand=\x80\0 x\xfe\n Score = \0 \xa0 (\x85\x85), x y \xff\n"s; }, small},
        {"SingleLineOf64MiB", [] { return "> " + std::string(64 << 20, 'A') + " b c\n Strand=Plus/Plus\n"; },
         3 * (rlim_t{64} << 20) + small},
        {"MillionEmptyLines", [] { return std::string(1000000, '\n') + hit; }, small},
        {"MillionLoneCarriageReturns", [] { return std::string(1000000, '\r') + "> a b c\r Strand=x"; }, small},
        {"TitleWith100000Tokens", [] { return hit + "> " + repeated("t ", 100000) + "\n"; }, small},
        {"TitleWith100000VanishingTags", [] { return "> " + repeated("length= ", 100000) + "x y z\n"; }, small},
        {"ScoreWith100000Tokens",
         [] { return hit + " Score = 1 bits (2),  Expect = 3 " + repeated("x ", 100000) + "\n"; }, small},
        {"IdentitiesWith100000Tokens",
         [] { return hit + " Identities = 1/1 (100%), Gaps = 0/1 " + repeated("x ", 100000) + "\n"; }, small},
        {"RowLargerThanTheWriteBufferWithAnEmptyValue",
         [] { return ">" + std::string(262144, 'I') + " b c\n Score = 1 bits (), E = 7\n>d e f\n"; }, small},
        {"ArbitraryBinary", [] { return binary_noise(1 << 20); }, small},
        {"LargerThanTheMemoryAllowed", [] { return repeated(std::string(99, '\xa5') + "\n", 320000) + hit; }, small},
    };
}

INSTANTIATE_TEST_SUITE_P(Reports, HostileInput, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hittab::tests
