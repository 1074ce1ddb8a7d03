// A report BLAST+ wrote with -html: the text its page shows, line for line,
// and the same rows as the plain report of the same search.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hsp_conversion.hpp"
#include "hsptab/html_text.hpp"
#include "padded_text.hpp"

namespace hittab::tests {
namespace {

std::string shown(const std::vector<std::string>& blocks) {
    hsptab::HtmlText html;
    std::string text;
    for (const std::string& block : blocks) {
        PaddedBuffer buffer = PaddedBuffer::copy_of(block);
        text += std::string(html.text_of(buffer.whole()).text());
    }
    return text;
}

TEST(HtmlText, TheTextBetweenPreTagsLineForLine) {
    const std::string page =
        "<HTML>\n<HEAD><TITLE>BLAST Search Results</TITLE></HEAD>\n<BODY>\n<PRE>\n\n<b>BLASTN 2.12.0+</b>\n"
        "<b><a\nhref=\"https://x?db=PubMed&cmd=R\netrieve\">Reference</a>:</b> Zheng Zhang\n"
        "<b>Query=</b> q1 a &lt;b&gt; &amp; &quot;c&quot; &#65;&#x42; &bogus; & x\n"
        "s1 t  <a href=#BL_ORD_ID:6>272</a>     1e-76\n"
        "><a name=BL_ORD_ID:6></a> s1 a title\n"
        "><a name=Subject_2></a>  spaced\n"
        " Score = 30.0 bits\n</PRE>\n</BODY>\n</HTML>\n";
    const std::string text =
        "\n\n\n\n\nBLASTN 2.12.0+\n\n\nReference: Zheng Zhang\n"
        "Query= q1 a <b> & \"c\" AB &bogus; & x\n"
        "s1 t  272     1e-76\n"
        ">s1 a title\n"
        "> spaced\n"
        " Score = 30.0 bits\n\n\n\n";
    EXPECT_EQ(shown({page}), text);
    // Blocks cut anywhere between lines, inside a tag that spans lines too.
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < page.size();) {
        std::size_t end = page.find('\n', at) + 1;
        lines.push_back(page.substr(at, end - at));
        at = end;
    }
    EXPECT_EQ(shown(lines), text);
    EXPECT_TRUE(hsptab::begins_html("\n <html>\n"));
    EXPECT_FALSE(hsptab::begins_html("BLASTN 2.12.0+\n"));
}

// The page's definitions wrap as HTML does: after any punctuation.
TEST(HtmlText, ReportsGiveTheRowsOfTheirText) {
    const std::string alignment =
        " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 4/4 (100%), Gaps = 0/4 (0%)\n"
        " Strand=Plus/Plus\n\nQuery  1  ACGT  4\n           ||||\nSbjct  5  ACGT  8\n\n\n";
    const std::string closing = "Lambda      K        H\n    1.33    0.621     1.12 \n\n" + blast_plus_closing;
    const std::string page =
        "<HTML>\n<PRE>\n<b>BLASTN 2.12.0+</b>\n\n\n<b>Query=</b> "
        "Synthetic_contig_with_an_extremely_long_identifier_that_has_no_\n"
        "spaces_at_all &amp; more\n\nLength=40\n\n"
        "><a name=BL_ORD_ID:1></a> s1 a &gt;title\nLength=100\n\n" +
        alignment + closing + "</PRE>\n</BODY>\n</HTML>\n";
    HspOutcome outcome = convert_hsps(page, "qseqid sseqid stitle", true);
    ASSERT_FALSE(outcome.failed) << outcome.message;
    EXPECT_NE(
        outcome.table.find("# Query: Synthetic_contig_with_an_extremely_long_identifier_that_has_no_spaces_at_all "
                           "& more\n"),
        std::string::npos)
        << outcome.table;
    EXPECT_NE(outcome.table.find("\ts1\ts1 a >title\n"), std::string::npos) << outcome.table;
    // A page cut before its report ends fails.
    HspOutcome cut = convert_hsps(page.substr(0, page.find("</PRE>")), "std");
    EXPECT_TRUE(cut.failed);
    EXPECT_EQ(cut.message, "the HTML page ends early, before the </PRE> that ends its report");
}

}  // namespace
}  // namespace hittab::tests
