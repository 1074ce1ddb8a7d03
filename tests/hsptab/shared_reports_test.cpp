// Genuine reports in layouts current BLAST+ cannot write (legacy blastall,
// early BLAST+, the web page's text download), read from the shared folder
// beside the repository. The web downloads come with the XML of the very
// same search: every row must carry the XML's values, rounded as the text
// shows them. The legacy ones must give one row per alignment, and the rows
// checked here by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "hsp_conversion.hpp"
#include "scratch_dir.hpp"
#include "shared_reports.hpp"

namespace hittab::tests {
namespace {

namespace fs = std::filesystem;

// The text between <tag> and </tag> in each `tag` element of `xml`, in order.
std::vector<std::string> elements(const std::string& xml, const std::string& tag) {
    std::vector<std::string> found;
    std::string open = "<" + tag + ">", close = "</" + tag + ">";
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at)) {
        std::size_t end = xml.find(close, at);
        found.push_back(xml.substr(at + open.size(), end - at - open.size()));
        at = end;
    }
    return found;
}

std::string element(const std::string& xml, const std::string& tag) {
    std::vector<std::string> found = elements(xml, tag);
    return found.empty() ? std::string() : found.front();
}

// "gi|372099107|ref|NC_000069.6|" names NC_000069.6.
std::string accession_version(const std::string& id) {
    std::string trimmed = id.back() == '|' ? id.substr(0, id.size() - 1) : id;
    return trimmed.substr(trimmed.rfind('|') + 1);
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> words;
    std::stringstream stream(line);
    for (std::string word; std::getline(stream, word, separator);) words.push_back(word);
    return words;
}

// Whether `shown` is `exact` cut to the digits `shown` is written with:
// within `units` of its last digit (half of one when rounded, one when
// truncated, as BLAST writes bit scores above 99.9).
bool shows(const std::string& exact, const std::string& shown, double units) {
    double value = std::stod(exact), written = std::stod(shown);
    std::size_t exponent_at = shown.find_first_of("eE");
    std::string mantissa = shown.substr(0, exponent_at);
    int exponent = exponent_at == std::string::npos ? 0 : std::stoi(shown.substr(exponent_at + 1));
    std::size_t point = mantissa.find('.');
    int decimals = point == std::string::npos ? 0 : static_cast<int>(mantissa.size() - point - 1);
    double unit = std::pow(10.0, exponent - decimals);
    return std::fabs(value - written) <= units * unit * (1 + 1e-9);
}

class WebDownload : public ::testing::TestWithParam<std::string> {};

TEST_P(WebDownload, EveryRowCarriesTheValuesOfTheXmlOfTheSameSearch) {
    REQUIRE_SHARED_REPORTS();
    std::string program = GetParam();
    std::string text = read_file((shared_reports / ("text_21500_" + program + "_001.txt")).string());
    std::string xml = read_file((shared_reports / ("xml_21500_" + program + "_001.xml")).string());
    HspOutcome outcome = convert_hsps(text,
                                      "qseqid qlen sseqid slen nident positive gaps length qstart qend sstart send "
                                      "qframe sframe score bitscore evalue");
    ASSERT_FALSE(outcome.failed) << outcome.message << " at line " << outcome.line_number;
    std::vector<std::string> rows = split(outcome.table, '\n');

    std::size_t row = 0;
    for (const std::string& iteration : elements(xml, "Iteration")) {
        for (const std::string& hit : elements(iteration, "Hit")) {
            for (const std::string& hsp : elements(hit, "Hsp")) {
                ASSERT_LT(row, rows.size()) << "fewer rows than the XML has alignments";
                std::vector<std::string> got = split(rows[row], '\t');
                ASSERT_EQ(got.size(), 17u) << rows[row];
                std::string gaps = element(hsp, "Hsp_gaps");
                // The XML gives a protein frame as 0, BLAST+'s table blastp's as 1.
                auto frame = [&](const char* tag) {
                    std::string value = element(hsp, tag);
                    return program == "blastp" && value == "0" ? std::string("1") : value;
                };
                std::vector<std::string> expected = {element(iteration, "Iteration_query-ID"),
                                                     element(iteration, "Iteration_query-len"),
                                                     accession_version(element(hit, "Hit_id")),
                                                     element(hit, "Hit_len"),
                                                     element(hsp, "Hsp_identity"),
                                                     element(hsp, "Hsp_positive"),
                                                     gaps.empty() ? "0" : gaps,
                                                     element(hsp, "Hsp_align-len"),
                                                     element(hsp, "Hsp_query-from"),
                                                     element(hsp, "Hsp_query-to"),
                                                     element(hsp, "Hsp_hit-from"),
                                                     element(hsp, "Hsp_hit-to"),
                                                     frame("Hsp_query-frame"),
                                                     frame("Hsp_hit-frame"),
                                                     element(hsp, "Hsp_score")};
                for (std::size_t field = 0; field < expected.size(); ++field) {
                    EXPECT_EQ(got[field], expected[field]) << "row " << row + 1 << ", field " << field + 1;
                }
                EXPECT_TRUE(shows(element(hsp, "Hsp_bit-score"), got[15], 1.0)) << "row " << row + 1 << ": " << got[15];
                EXPECT_TRUE(shows(element(hsp, "Hsp_evalue"), got[16], 0.5)) << "row " << row + 1 << ": " << got[16];
                ++row;
            }
        }
    }
    EXPECT_EQ(row, rows.size()) << "more rows than the XML has alignments";
    EXPECT_GT(row, 0u);
}

INSTANTIATE_TEST_SUITE_P(Programs, WebDownload, ::testing::Values("blastn", "blastp", "blastx"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

std::size_t count_of(const std::string& text, const std::string& piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

TEST(OlderLayouts, OneRowPerAlignmentInEveryReport) {
    REQUIRE_SHARED_REPORTS();
    std::size_t reports = 0;
    for (const auto& entry : fs::directory_iterator(shared_reports)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("text_", 0) != 0 || name.find("21500") != std::string::npos) continue;
        std::string text = read_file(entry.path().string());
        HspOutcome outcome = convert_hsps(text);
        EXPECT_FALSE(outcome.failed) << name << ": " << outcome.message << " at line " << outcome.line_number;
        EXPECT_EQ(count_of(outcome.table, "\n"), count_of(text, "\n Score =")) << name;
        ++reports;
    }
    EXPECT_GE(reports, 12u);
}

TEST(OlderLayouts, LegacyBlastallRowsAsTheReportShowsThem) {
    REQUIRE_SHARED_REPORTS();
    const std::string fields =
        "qseqid qlen sseqid slen pident length mismatch gapopen qstart qend sstart send "
        "frames sstrand evalue bitscore";
    HspOutcome blastn = convert_hsps(read_file((shared_reports / "text_2010L_blastn_001.txt").string()), fields);
    std::vector<std::string> rows = split(blastn.table, '\n');
    ASSERT_GE(rows.size(), 2u);
    // "Score =  517 bits (261), Expect = e-146", "Identities = 285/285 (100%)", "Strand = Plus / Plus"
    EXPECT_EQ(rows[0],
              "gi|1348916|gb|G26684|G26684\t285\tgi|1348916|gb|G26684|G26684\t285\t100.000\t285\t0\t0\t1\t"
              "285\t1\t285\t1/1\tplus\t1e-146\t517");
    // "Score = 32.2 bits (16), Expect = 1.6", "Strand = Plus / Minus", "Sbjct: 178 ... 163"
    EXPECT_EQ(rows[1],
              "gi|1348916|gb|G26684|G26684\t285\tgi|720683|gb|G03725|G03725\t246\t100.000\t16\t0\t0\t260\t"
              "275\t178\t163\t1/-1\tminus\t1.6\t32.2");

    // "Score =  367 bits (796), Expect = e-102", "Frame = +2 / +2", "Query: 2 ... 601"
    HspOutcome tblastx = convert_hsps(read_file((shared_reports / "text_2010L_tblastx_001.txt").string()),
                                      "qstart qend sstart send frames evalue bitscore score");
    EXPECT_EQ(split(tblastx.table, '\n').at(0), "2\t601\t2\t601\t2/2\t1e-102\t367\t796");
}

}  // namespace
}  // namespace hittab::tests
