// Compressed reports are recognised by their first bytes and decoded whole,
// however they are cut into members, frames and reads; damaged ones fail with
// what is wrong, after the bytes decoded before the damage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "byte_source.hpp"
#include "compression.hpp"
#include "failure.hpp"
#include "memory_streams.hpp"
#include "report_reader.hpp"

namespace hittab::tests {
namespace {

using namespace std::string_literals;

struct Decoded {
    std::string bytes;
    std::string failure;  // empty when the whole stream decoded
};

Decoded decode(const std::string& stream, std::size_t input_size = 4096, std::size_t read_size = 1000) {
    FileHandle file = stream_holding(stream);
    ByteSource source(fileno(file.get()), "r", input_size);
    Decoded decoded;
    std::vector<char> buffer(read_size);
    try {
        for (std::size_t got; (got = source.read(buffer.data(), read_size)) != 0;)
            decoded.bytes.append(buffer.data(), got);
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.kind, FailureKind::io);
        decoded.failure = failure.what();
    }
    return decoded;
}

// Lines of report-like text with CR LF and lone CR among them.
std::string some_text(std::size_t lines) {
    std::mt19937 random(11);
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        text += "> read" + std::to_string(random() % 100000) + " name length=" + std::to_string(random() % 999);
        text += random() % 5 == 0 ? "\r\n" : random() % 7 == 0 ? "\r" : "\n";
    }
    return text;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(RecogniseForm, ByTheFirstBytesOnly) {
    struct Case {
        std::string first_bytes;
        StreamForm form;
    };
    const Case cases[] = {
        {"", StreamForm::plain},
        {"\x1f", StreamForm::plain},
        {"\x1f\x8b", StreamForm::gzip},
        {"\x1f\x8b\x08\x00rest", StreamForm::gzip},
        {"\x8b\x1f", StreamForm::plain},
        {"\x28\xb5\x2f", StreamForm::plain},
        {"\x28\xb5\x2f\xfd", StreamForm::zstd},
        {"\x50\x2a\x4d\x18", StreamForm::zstd},  // skippable frames, as pzstd writes first
        {"\x5f\x2a\x4d\x18", StreamForm::zstd},
        {"\x60\x2a\x4d\x18", StreamForm::plain},
        {"BLASTN 2.12.0+\n", StreamForm::plain},
        {"BZh91AY&SY", StreamForm::plain},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recognise_form(reinterpret_cast<const unsigned char*>(c.first_bytes.data()), c.first_bytes.size()),
                  c.form)
            << ::testing::PrintToString(c.first_bytes);
    }
}

TEST(ByteSource, EveryPackingDecodesToTheTextWhateverTheReadSizes) {
    std::string text = some_text(1000);
    for (std::size_t piece_basis : {std::size_t{5}, std::size_t{4096}}) {
        for (const PackedForm& form : packed_forms(piece_basis)) {
            std::string packed = pack(text, form);
            for (std::size_t input_size : {1, 4, 13, 65536}) {
                for (std::size_t read_size : {1, 997, 1 << 20}) {
                    if (read_size == 1 && input_size > 13) continue;  // slow and adds nothing
                    Decoded decoded = decode(packed, input_size, read_size);
                    ASSERT_EQ(decoded.failure, "")
                        << form.name << ", input " << input_size << ", reads of " << read_size;
                    ASSERT_TRUE(decoded.bytes == text)
                        << form.name << ", input " << input_size << ", reads of " << read_size;
                }
            }
        }
    }
    EXPECT_EQ(decode(text).bytes, text);
    EXPECT_EQ(decode("").bytes, "");
}

TEST(ByteSource, ATruncatedStreamEndsEarlyAfterTheBytesBefore) {
    std::string text = some_text(60);
    const PackedForm forms[] = {{"gzip members", Packing::gzip_members, 300},
                                {"BGZF", Packing::bgzf, 300},
                                {"zstd frames", Packing::zstd_frames, 300}};
    for (const PackedForm& form : forms) {
        std::vector<std::string> pieces = packed_pieces(text, form);
        std::string packed;
        std::vector<std::size_t> piece_ends;
        for (const std::string& piece : pieces) piece_ends.push_back((packed += piece).size());
        const std::string ends_early = form.packing == Packing::zstd_frames
                                           ? "cannot read report 'r': zstd data ends early"
                                           : "cannot read report 'r': gzip data ends early";
        std::size_t complete_pieces = 0;
        // From the whole magic on: a shorter file is plain text.
        for (std::size_t cut = form.packing == Packing::zstd_frames ? 4 : 2; cut < packed.size(); ++cut) {
            while (complete_pieces < piece_ends.size() && piece_ends[complete_pieces] <= cut) ++complete_pieces;
            // Every whole piece before the cut decodes; a cut between pieces is a shorter stream.
            std::string whole_pieces = text.substr(0, std::min(complete_pieces * form.piece_size, text.size()));
            Decoded decoded = decode(packed.substr(0, cut), 64, 100);
            bool between_pieces = piece_ends[complete_pieces - (complete_pieces > 0)] == cut;
            if (between_pieces) {
                EXPECT_EQ(decoded.failure, "") << form.name << " cut at " << cut;
                EXPECT_EQ(decoded.bytes, whole_pieces) << form.name << " cut at " << cut;
            } else {
                ASSERT_EQ(decoded.failure, ends_early) << form.name << " cut at " << cut;
                ASSERT_TRUE(starts_with(decoded.bytes, whole_pieces) && starts_with(text, decoded.bytes))
                    << form.name << " cut at " << cut;
            }
        }
    }
}

TEST(ByteSource, ADamagedStreamFailsWithWhatIsWrong) {
    std::string text = some_text(40);
    std::string gzip = pack(text, {"gzip", Packing::gzip, 0});
    std::string zstd = pack(text, {"zstd", Packing::zstd, 0});
    std::string bad_crc = gzip;
    bad_crc[bad_crc.size() - 8] ^= 1;
    std::string bad_zstd_checksum = zstd;
    bad_zstd_checksum.back() ^= 1;
    struct Case {
        const char* name;
        std::string stream;
        std::string failure;  // after "cannot read report 'r': "
        std::string bytes;    // decoded, or for a failure, what the bytes before it begin
    };
    const Case cases[] = {
        {"gzip CRC", bad_crc, "gzip: checksum mismatch", text},
        {"gzip then garbage", gzip + "garbage!", "gzip: unexpected bytes after the last member", text},
        {"gzip then zeros", gzip + std::string(1000, '\0'), "", text},
        {"gzip, zeros, garbage", gzip + std::string(1000, '\0') + "x", "gzip: unexpected bytes after the last member",
         text},
        {"gzip twice, then a wrong magic", gzip + gzip + "\x1f\x8c rest",
         "gzip: unexpected bytes after the last member", text + text},
        {"gzip of another method", "\x1f\x8b\x07\0\0\0\0\0\0\xff"s + "rest",
         "gzip data uses an unknown compression method", ""},
        {"gzip magic alone", "\x1f\x8b", "gzip data ends early", ""},
        {"zstd checksum", bad_zstd_checksum, "zstd: checksum mismatch", text},
        {"zstd then garbage", zstd + "garbage and more garbage", "zstd: unexpected bytes after the last frame", text},
        {"zstd magic alone", "\x28\xb5\x2f\xfd", "zstd data ends early", ""},
    };
    for (const Case& c : cases) {
        Decoded decoded = decode(c.stream);
        EXPECT_EQ(decoded.failure, c.failure.empty() ? "" : "cannot read report 'r': " + c.failure) << c.name;
        if (c.failure.empty()) {
            EXPECT_EQ(decoded.bytes, c.bytes) << c.name;
        } else {
            EXPECT_TRUE(starts_with(c.bytes, decoded.bytes)) << c.name;
        }
    }
}

TEST(ByteSource, AFlippedBitFailsOrChangesNothing) {
    std::string text = some_text(40);
    struct Case {
        PackedForm form;
        std::size_t header_size;  // flips here may change nothing that is checked (a time, a flag)
    };
    const Case cases[] = {{{"gzip", Packing::gzip, 0}, 10}, {{"zstd", Packing::zstd, 0}, 6}};
    for (const Case& c : cases) {
        std::string packed = pack(text, c.form);
        for (std::size_t at = c.header_size; at < packed.size(); ++at) {
            for (int bit : {0, 7}) {
                std::string damaged = packed;
                damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
                Decoded decoded = decode(damaged);
                // Padding bits, and codes the decoder reads the same, may be damaged harmlessly.
                EXPECT_TRUE(starts_with(decoded.failure, "cannot read report 'r': ") || decoded.bytes == text)
                    << c.form.name << " byte " << at << " bit " << bit;
            }
        }
    }
}

TEST(ReportReader, StopsReadingAheadOnAPipeThatStaysOpen) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::string lines = some_text(60);  // more than a block, less than the ring
    ASSERT_EQ(write(ends[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    {
        ReportReader reader(FileHandle(fdopen(ends[0], "rb")), "pipe", 1024);
        EXPECT_FALSE(reader.next_lines().empty());
        // Leaving the scope must end the reading thread, which waits on the pipe for more.
    }
    close(ends[1]);
}

}  // namespace
}  // namespace hittab::tests
