// hsptab's reader, layout reader and field writer on arbitrary bytes, with
// every field (the aligned sequences and BTOP included) and a block size
// taken from the input: whatever the bytes, the conversion ends in rows or
// in a layout failure at a line of the input, never in a crash, a hang or a
// read out of bounds (the fuzz build runs under the sanitizers). A
// compressed form of the bytes, chosen by the input, converts the same; bytes that are themselves
// compressed decode or fail, without a crash. Read in stretches on two
// threads, it converts the same. Without the aligned sequences, the numbers
// and any failure are the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "compression.hpp"
#include "conversion.hpp"
#include "hsp_conversion.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t block_size = 1 + ((std::size_t{data[0]} << 8 | data[1]) % 4096);
    std::string_view report(reinterpret_cast<const char*>(data + 2), size - 2);
    bool comments = data[1] & 1;
    const std::string fields =
        "qseqid qlen sseqid stitle slen pident length mismatch gapopen gaps nident positive ppos qstart qend "
        "sstart send qframe sframe frames sstrand evalue bitscore score qcovhsp btop qseq sseq";
    hittab::tests::HspOutcome outcome = hittab::tests::convert_hsps_as_given(report, fields, comments, block_size);
    if (hittab::tests::is_packed(report)) return 0;  // compressed bytes: decoded, or an input/output failure
    // One compressed form of the report, chosen by the input, converts the same.
    std::vector<hittab::tests::PackedForm> forms = hittab::tests::packed_forms(block_size);
    const hittab::tests::PackedForm& form = forms[data[0] % forms.size()];
    if (!(hittab::tests::convert_hsps_as_given(hittab::tests::pack(report, form), fields, comments, block_size) ==
          outcome)) {
        std::fprintf(stderr, "packed as %s, the report converts otherwise (block size %zu)\n", form.name, block_size);
        std::abort();
    }
    // Read in stretches on two threads, in pieces that begin at query lines:
    // the same rows and failure.
    if (!(hittab::tests::convert_hsps_in_stretches(report, fields, comments, block_size) == outcome)) {
        std::fprintf(stderr, "read in stretches, the report converts otherwise (stretch size %zu)\n", block_size);
        std::abort();
    }
    // Without the aligned sequences, the usual blocks are read together from
    // the masks: the rows and any failure are those of the line-by-line
    // reading, which asking for qseq keeps.
    const std::string numbers = "length mismatch gapopen gaps qstart qend sstart send sstrand";
    hittab::tests::HspOutcome together = hittab::tests::convert_hsps_as_given(report, numbers, false, block_size);
    hittab::tests::HspOutcome by_line =
        hittab::tests::convert_hsps_as_given(report, numbers + " qseq", false, block_size);
    // The rows without their qseq column, which may itself hold tabs.
    std::string by_line_rows;
    for (std::size_t at = 0; at < by_line.table.size();) {
        std::size_t end = by_line.table.find('\n', at);
        std::size_t cut = at;
        for (int column = 0; column < 9; ++column) cut = by_line.table.find('\t', cut) + 1;
        by_line_rows += by_line.table.substr(at, cut - 1 - at) + "\n";
        at = end + 1;
    }
    if (together.failed != by_line.failed || together.message != by_line.message ||
        together.line_number != by_line.line_number || together.table != by_line_rows) {
        std::fprintf(stderr, "the blocks read together and line by line differ (block size %zu)\n", block_size);
        std::abort();
    }
    std::size_t lines = 1;
    for (char c : report) lines += c == '\n' || c == '\r';
    if (outcome.failed && (outcome.line_number == 0 || outcome.line_number > lines)) {
        std::fprintf(stderr, "failure at line %llu of a report of %zu lines: %s\n",
                     static_cast<unsigned long long>(outcome.line_number), lines, outcome.message.c_str());
        std::abort();
    }
    return 0;
}
