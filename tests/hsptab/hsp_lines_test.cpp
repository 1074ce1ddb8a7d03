// The lines of an alignment's header, each shape read into its Hsp: the
// quick readers of BLAST+'s usual lines and the general readers give the
// same record and the same failure for every line.
#include <gtest/gtest.h>

#include <string>

#include "hsp_conversion.hpp"
#include "hsptab/hsp_lines.hpp"
#include "padded_text.hpp"

namespace hittab::tests {
namespace {

using hsptab::Hsp;
using hsptab::SearchKind;

// Reads `line`, as it lies in padded report text, with the quick readers
// first and with the general readers alone: both must agree.
struct BothWays {
    Hsp quick, general;
    std::string quick_failure, general_failure;
};

template <typename Read>
BothWays read_both_ways(const std::string& line, Read read) {
    PaddedBuffer buffer = PaddedBuffer::copy_of(line);
    BothWays both;
    {
        QuickReaders on(true);
        const char* failure = read(buffer.whole().text(), both.quick);
        both.quick_failure = failure != nullptr ? failure : "";
    }
    QuickReaders off(false);
    const char* failure = read(buffer.whole().text(), both.general);
    both.general_failure = failure != nullptr ? failure : "";
    return both;
}

std::string text_of(const hsptab::ShortText& text) {
    std::string bytes(text.size() + 8, '\0');
    text.put(bytes.data());
    bytes.resize(text.size());
    return bytes;
}

// HSPTAB_GENERAL_READERS=1 reaches the readers.
TEST(QuickReaders, OnUnlessTheEnvironmentTurnsThemOff) {
    EXPECT_EQ(hsptab::quick_readers_first, !general_readers_only);
}

TEST(ScoreLine, EveryLayoutsShapeReadTheSameBothWays) {
    struct Case {
        std::string line;
        std::string bits, raw, evalue, failure;
    };
    const Case cases[] = {
        {" Score = 349 bits (194),  Expect = 7e-87", "349", "194", "7e-87", ""},
        {" Score = 82.0 bits (201),  Expect = 8e-27, Method: Compositional matrix adjust.", "82.0", "201", "8e-27", ""},
        {" Score = 1184 bits (641),  Expect = 0.0", "1184", "641", "0.0", ""},
        {" Score = 12345678 bits (1),  Expect = 1", "12345678", "1", "1", ""},  // eight bytes of bit score
        {" Score = 30.0 bits (12345678),  Expect = 1", "30.0", "12345678", "1", ""},
        {" Score =  517 bits (261), Expect = e-146", "517", "261", "1e-146", ""},
        {"Score:41.0 bits(44), Expect:0.33,", "41.0", "44", "0.33", ""},
        {" Score = 180 bits (387), Expect(2) = 9e-91", "180", "387", "9e-91", ""},
        {" Score = 20.0 bits (20),  Expect = 0.5;", "20.0", "20", "0.5", ""},
        {" Score = x", "", "", "", "a Score line without a bit score"},
        {" Score = 30.0 bits", "", "", "", "a Score line without a raw score"},
        {" Score = 30.0 bits (32", "", "", "", "a Score line without a raw score"},
        {" Score = 30.0 bits (),  Expect = 1", "", "", "", "a Score line without a raw score"},
        {" Score = 30.0 bits (32),  Expect = ", "", "", "", "a Score line without an Expect value"},
        {" Score = 30.0 bits (32)", "", "", "", "a Score line without an Expect value"},
    };
    for (const Case& c : cases) {
        BothWays both = read_both_ways(c.line, hsptab::read_score_line);
        EXPECT_EQ(both.quick_failure, c.failure) << c.line;
        EXPECT_EQ(both.general_failure, c.failure) << c.line;
        if (!c.failure.empty()) continue;
        for (const Hsp* hsp : {&both.quick, &both.general}) {
            EXPECT_EQ(text_of(hsp->bit_score), c.bits) << c.line;
            EXPECT_EQ(text_of(hsp->raw_score), c.raw) << c.line;
            EXPECT_EQ(text_of(hsp->evalue), c.evalue) << c.line;
        }
    }
}

TEST(HspLines, IdentitiesStrandAndFrameReadTheSameBothWays) {
    struct Case {
        std::string line;
        SearchKind kind;
        std::uint64_t identities, length, positives, gaps;
        bool has_positives, has_gaps_line, subject_minus;
        int query_frame, subject_frame;
        std::string failure;
    };
    const SearchKind n = SearchKind::nucleotide;
    const Case cases[] = {
        {" Identities = 192/194 (98%), Gaps = 1/194 (0%)", n, 192, 194, 0, 1, false, true, false, 0, 0, ""},
        {" Identities = 41/41 (100%), Positives = 41/41 (100%), Gaps = 0/41 (0%)", SearchKind::protein, 41, 41, 41, 0,
         true, true, false, 0, 0, ""},
        {" Identities = 85/120 (71%), Positives = 99/120 (83%)", SearchKind::protein, 85, 120, 99, 0, true, false,
         false, 0, 0, ""},
        {" Identities = 12345678/12345678 (100%)", n, 12345678, 12345678, 0, 0, false, false, false, 0, 0, ""},
        {"Identities = 10/12 (83%), Strand: Plus/Minus", n, 10, 12, 0, 0, false, false, true, 0, 0, ""},
        {" Identities = 10/12 (83%)Gaps = 1/12", n, 10, 12, 0, 0, false, false, false, 0, 0, ""},
        {" Identities = 10 / 12", n, 0, 0, 0, 0, false, false, false, 0, 0, "an Identities line without \"N/LENGTH\""},
        {" Identities = 0/0 (0%)", n, 0, 0, 0, 0, false, false, false, 0, 0, "an Identities line without \"N/LENGTH\""},
        {" Strand=Plus/Plus", n, 0, 0, 0, 0, false, false, false, 0, 0, ""},
        {" Strand=Plus/Minus", n, 0, 0, 0, 0, false, false, true, 0, 0, ""},
        {" Strand = Plus / Minus", n, 0, 0, 0, 0, false, false, true, 0, 0, ""},
        {" Strand=Plus/Minus ", n, 0, 0, 0, 0, false, false, true, 0, 0, ""},
        {" Strand=", n, 0, 0, 0, 0, false, false, false, 0, 0, "a Strand line without \"QUERY/SUBJECT\""},
        {" Frame = +2", SearchKind::translated_query, 0, 0, 0, 0, false, false, false, 2, 0, ""},
        {" Frame = -3", SearchKind::translated_subject, 0, 0, 0, 0, false, false, false, 0, -3, ""},
        {" Frame = +1/-3", SearchKind::translated_both, 0, 0, 0, 0, false, false, false, 1, -3, ""},
        {" Frame = +2 / +2", SearchKind::translated_both, 0, 0, 0, 0, false, false, false, 2, 2, ""},
        {" Frame = 4", SearchKind::translated_query, 0, 0, 0, 0, false, false, false, 0, 0,
         "a Frame line without a frame"},
        {" Frame = +1/", SearchKind::translated_both, 0, 0, 0, 0, false, false, false, 0, 0,
         "a Frame line without its second frame"},
        {" Method: Composition-based stats.", n, 0, 0, 0, 0, false, false, false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        BothWays both = read_both_ways(
            c.line, [&](std::string_view line, Hsp& hsp) { return hsptab::read_hsp_line(line, c.kind, hsp); });
        EXPECT_EQ(both.quick_failure, c.failure) << c.line;
        EXPECT_EQ(both.general_failure, c.failure) << c.line;
        if (!c.failure.empty()) continue;
        for (const Hsp* hsp : {&both.quick, &both.general}) {
            EXPECT_EQ(hsp->identities, c.identities) << c.line;
            EXPECT_EQ(hsp->length, c.length) << c.line;
            EXPECT_EQ(hsp->positives, c.positives) << c.line;
            EXPECT_EQ(hsp->gaps, c.gaps) << c.line;
            EXPECT_EQ(hsp->has_positives, c.has_positives) << c.line;
            EXPECT_EQ(hsp->has_gaps_line, c.has_gaps_line) << c.line;
            EXPECT_EQ(hsp->subject_minus, c.subject_minus) << c.line;
            EXPECT_EQ(hsp->query_frame, c.query_frame) << c.line;
            EXPECT_EQ(hsp->subject_frame, c.subject_frame) << c.line;
        }
    }
}

// What the report leaves out: frames from the coordinates where no Frame
// line gives them, positives where none are given or a profile was
// searched, the gaps the alignment showed where no Identities line counts them.
TEST(HspLines, SettledFromTheCoordinatesWhereTheReportIsSilent) {
    struct Case {
        const char* what;
        SearchKind kind;
        bool profiles, has_frame_line;
        std::uint64_t query_start, query_end, subject_start, subject_end;
        int query_frame, subject_frame;
    };
    const Case cases[] = {
        {"blastn, minus strand", SearchKind::nucleotide, false, false, 1, 10, 20, 11, 1, -1},
        {"blastp", SearchKind::protein, false, false, 1, 10, 1, 10, 1, 1},
        {"blastx, forward", SearchKind::translated_query, false, false, 5, 31, 1, 9, 2, 0},
        {"blastx, reverse", SearchKind::translated_query, false, false, 98, 72, 1, 9, -3, 0},
        {"tblastn, forward", SearchKind::translated_subject, false, false, 1, 9, 3, 29, 0, 3},
        {"tblastx, both reverse", SearchKind::translated_both, false, false, 100, 74, 99, 73, -1, -2},
        {"a Frame line wins", SearchKind::translated_query, false, true, 5, 31, 1, 9, -2, 0},
    };
    for (const Case& c : cases) {
        hsptab::Run run;
        run.kind = c.kind;
        run.profiles = c.profiles;
        Hsp hsp;
        hsp.subject_minus = c.subject_end < c.subject_start;
        hsp.query_start = c.query_start;
        hsp.query_end = c.query_end;
        hsp.subject_start = c.subject_start;
        hsp.subject_end = c.subject_end;
        hsp.has_frame_line = c.has_frame_line;
        if (c.has_frame_line) hsp.query_frame = -2;
        hsp.identities = 7;
        hsp.counted_gaps = 3;
        hsptab::settle_hsp(hsp, run, 100, 100);
        EXPECT_EQ(hsp.query_frame, c.query_frame) << c.what;
        EXPECT_EQ(hsp.subject_frame, c.subject_frame) << c.what;
        EXPECT_EQ(hsp.positives, 7u) << c.what;
        EXPECT_EQ(hsp.gaps, 3u) << c.what;
    }
    hsptab::Run profiles;
    profiles.profiles = true;
    Hsp hsp;
    hsp.identities = 7;
    hsp.positives = 9;
    hsp.has_positives = true;
    hsp.has_gaps_line = true;
    hsp.gaps = 2;
    hsp.counted_gaps = 3;
    hsptab::settle_hsp(hsp, profiles, 100, 100);
    EXPECT_EQ(hsp.positives, 7u) << "a profile's positives are its identities";
    EXPECT_EQ(hsp.gaps, 2u) << "the Identities line's gaps stand";
}

}  // namespace
}  // namespace hittab::tests
