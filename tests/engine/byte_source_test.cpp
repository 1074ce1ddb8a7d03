// Compressed reports are recognised by their first bytes and decoded whole,
// however they are cut into members, frames and reads; damaged ones fail with
// what is wrong, after the bytes decoded before the damage.
#include <gtest/gtest.h>
#include <isa-l/crc.h>
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
        {"BZh91AY&SY", StreamForm::bzip2},
        {"BZh1", StreamForm::bzip2},
        {"BZh0", StreamForm::plain},
        {"BZh", StreamForm::plain},
        {"BZhx rest", StreamForm::plain},
        {"\xfd"
         "7zXZ\0"s,
         StreamForm::xz},
        {"\xfd"
         "7zXZ\0\0\x04"s,
         StreamForm::xz},
        {"\xfd"
         "7zXZ",
         StreamForm::plain},
        {"\xfd"
         "7zXz\0"s,
         StreamForm::plain},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(recognise_form(reinterpret_cast<const unsigned char*>(c.first_bytes.data()), c.first_bytes.size()),
                  c.form)
            << ::testing::PrintToString(c.first_bytes);
    }
}

TEST(RecogniseForm, ArchivesAndDocumentsAreNamedAndReportsAreNot) {
    const std::pair<std::string, const char*> cases[] = {
        {"PK\x03\x04\x14\0", "a zip archive"},
        {"PK\x05\x06", "a zip archive"},
        {"7z\xbc\xaf\x27\x1c\0\x04", "a 7-Zip archive"},
        {"Rar!\x1a\x07\x01", "a RAR archive"},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE BlastOutput", "an XML document"},
        {"\xef\xbb\xbf<?xml version", "an XML document"},
        {"Blast4-archive ::= {", "a BLAST archive (-outfmt 11)"},
        {"\x04\x22\x4d\x18", "an lz4 file"},
        {"\x1f\x9d\x90", "a file packed by compress (.Z)"},
        {"BLASTN 2.12.0+\n", nullptr},
        {"<HTML>\n<TITLE>BLAST Search Results</TITLE>", nullptr},  // BLAST's -html report
        {"<?xm", nullptr},
        {"PK", nullptr},
        {"", nullptr},
        {"Query= PK\x03\x04", nullptr},
    };
    for (const auto& [first_bytes, what] : cases) {
        const char* named =
            not_a_text_report(reinterpret_cast<const unsigned char*>(first_bytes.data()), first_bytes.size());
        EXPECT_EQ(named == nullptr ? std::string("(none)") : named, what == nullptr ? "(none)" : what)
            << ::testing::PrintToString(first_bytes);
    }
}

TEST(ByteSource, ArchivesAndDocumentsFailBeforeAnyByteEvenWhenPacked) {
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE BlastOutput PUBLIC>\n" + some_text(20);
    std::string archive = "Blast4-archive ::= {\n  request {\n" + some_text(20);
    const std::pair<std::string, std::string> cases[] = {
        {xml, "an XML document"},
        {pack(xml, {"gzip", Packing::gzip, 0}), "an XML document"},
        {pack(xml, {"xz", Packing::xz, 0}), "an XML document"},
        {pack(archive, {"zstd", Packing::zstd, 0}), "a BLAST archive (-outfmt 11)"},
        {"PK\x03\x04" + some_text(5), "a zip archive"},
    };
    for (const auto& [stream, what] : cases) {
        Decoded decoded = decode(stream);
        EXPECT_EQ(decoded.failure, "cannot read report 'r': it is " + what + ", not a BLAST text report");
        EXPECT_EQ(decoded.bytes, "");
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
    struct Case {
        PackedForm form;
        const char* decoder;
        std::size_t magic_size;      // a shorter file is plain text
        const char* between_pieces;  // the failure of a cut between members, frames or streams
    };
    const Case cases[] = {
        {{"gzip members", Packing::gzip_members, 300}, "gzip", 2, ""},
        // BGZF ends with an empty block: without it, the file was cut.
        {{"BGZF", Packing::bgzf, 300}, "gzip", 2, "BGZF data ends early: its end-of-file block is missing"},
        {{"zstd frames", Packing::zstd_frames, 300}, "zstd", 4, ""},
        {{"bzip2 streams", Packing::bzip2_streams, 300}, "bzip2", 4, ""},
        {{"xz streams", Packing::xz_streams, 300}, "xz", 6, ""}};
    for (const auto& [form, decoder, magic_size, between_pieces_failure] : cases) {
        std::vector<std::string> pieces = packed_pieces(text, form);
        std::string packed;
        std::vector<std::size_t> piece_ends;
        for (const std::string& piece : pieces) piece_ends.push_back((packed += piece).size());
        const std::string ends_early = "cannot read report 'r': " + std::string(decoder) + " data ends early";
        std::size_t complete_pieces = 0;
        for (std::size_t cut = magic_size; cut < packed.size(); ++cut) {
            while (complete_pieces < piece_ends.size() && piece_ends[complete_pieces] <= cut) ++complete_pieces;
            // Every whole piece before the cut decodes; a cut between pieces is a shorter stream.
            std::string whole_pieces = text.substr(0, std::min(complete_pieces * form.piece_size, text.size()));
            Decoded decoded = decode(packed.substr(0, cut), 64, 100);
            bool between_pieces = piece_ends[complete_pieces - (complete_pieces > 0)] == cut;
            if (between_pieces) {
                std::string failure = *between_pieces_failure == '\0'
                                          ? ""
                                          : "cannot read report 'r': " + std::string(between_pieces_failure);
                EXPECT_EQ(decoded.failure, failure) << form.name << " cut at " << cut;
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
    std::string bzip2 = pack(text, {"bzip2", Packing::bzip2, 0});
    std::string bad_bzip2_crc = bzip2;
    bad_bzip2_crc[bad_bzip2_crc.size() - 3] ^= 1;  // the stream's CRC, in its last bytes
    std::string xz = pack(text, {"xz", Packing::xz, 0});
    std::string bad_xz_check = xz;
    bad_xz_check.back() ^= 1;  // the stream footer's magic
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
        {"bzip2 CRC", bad_bzip2_crc, "bzip2 data is corrupt", text},
        {"bzip2 twice", bzip2 + bzip2, "", text + text},
        {"bzip2 then garbage", bzip2 + "garbage!", "bzip2: unexpected bytes after the last stream", text},
        {"bzip2 then a magic cut short", bzip2 + "BZ", "bzip2 data ends early", text},
        {"bzip2 magic alone", "BZh9", "bzip2 data ends early", ""},
        {"bzip2 of a broken block", "BZh91AY&SX" + std::string(40, 'x'), "bzip2 data is corrupt", ""},
        {"xz footer damaged", bad_xz_check, "xz data is corrupt", text},
        {"xz twice", xz + xz, "", text + text},
        {"xz, padding, xz", xz + std::string(8, '\0') + xz, "", text + text},
        {"xz then garbage", xz + "garbage and more garbage", "xz data is corrupt", text},
        {"xz magic alone",
         "\xfd"
         "7zXZ\0"s,
         "xz data ends early", ""},
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

// Every optional field of a member's header, and its header CRC, as gzip
// reads them; a header cut anywhere ends early.
TEST(ByteSource, GzipHeadersWithEveryOptionalFieldAndTheirChecksum) {
    std::string text = some_text(30);
    auto with_crc = [](std::string header) {
        std::uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(header.data()), header.size());
        return header + static_cast<char>(crc & 0xff) + static_cast<char>(crc >> 8 & 0xff);
    };
    const std::string fixed = "\x1f\x8b\x08"s;
    const std::string rest = "\0\0\0\0\0\x03"s;  // time, extra flags, operating system
    struct Case {
        const char* name;
        std::string header;
        std::string failure;
    };
    const Case cases[] = {
        {"header CRC", with_crc(fixed + "\x02"s + rest), ""},
        {"name and header CRC", with_crc(fixed + "\x0a"s + rest + "report.txt\0"s), ""},
        {"every field", with_crc(fixed + "\x1e"s + rest + "\x04\0ab\0\0"s + "r.txt\0"s + "a comment\0"s), ""},
        {"extra of length 0", fixed + "\x04"s + rest + "\0\0"s, ""},
        {"wrong header CRC", with_crc(fixed + "\x0a"s + rest + "report.txt\0"s).replace(12, 1, "R"),
         "gzip: header checksum mismatch"},
        {"reserved flag", fixed + "\x20"s + rest, "gzip header is invalid"},
    };
    for (const Case& c : cases) {
        std::string member = gzip_member_after(c.header, text);
        for (std::size_t input_size : {1, 7, 4096}) {
            Decoded decoded = decode(member, input_size);
            EXPECT_EQ(decoded.failure, c.failure.empty() ? "" : "cannot read report 'r': " + c.failure)
                << c.name << ", input " << input_size;
            EXPECT_EQ(decoded.bytes, c.failure.empty() ? text : "") << c.name << ", input " << input_size;
        }
        if (!c.failure.empty()) continue;
        for (std::size_t cut = 2; cut < c.header.size(); ++cut) {
            EXPECT_EQ(decode(member.substr(0, cut), 3).failure, "cannot read report 'r': gzip data ends early")
                << c.name << " cut at " << cut;
        }
    }
}

TEST(ByteSource, AFlippedBitFailsOrChangesNothing) {
    std::string text = some_text(40);
    struct Case {
        PackedForm form;
        std::size_t header_size;  // flips here may change nothing that is checked (a time, a flag)
    };
    const Case cases[] = {{{"gzip", Packing::gzip, 0}, 10},
                          {{"zstd", Packing::zstd, 0}, 6},
                          {{"bzip2", Packing::bzip2, 0}, 4},
                          {{"xz", Packing::xz, 0}, 6}};
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
