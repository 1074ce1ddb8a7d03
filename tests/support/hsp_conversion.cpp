#include "hsp_conversion.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "compression.hpp"
#include "conversion.hpp"
#include "failure.hpp"
#include "hsptab/driver.hpp"
#include "hsptab/field_writer.hpp"
#include "hsptab/hsp_lines.hpp"
#include "hsptab/html_text.hpp"
#include "hsptab/stretch_conversion.hpp"
#include "memory_streams.hpp"
#include "piece_threads.hpp"
#include "row_output.hpp"

namespace hittab::tests {

namespace {

// `convert` gives the subjects the report lists without an alignment.
template <typename Convert>
HspOutcome run_conversion(const std::string& fields, bool comments, Convert convert) {
    MemoryTable memory;
    HspOutcome outcome;
    {
        RowOutput output(memory.stream(), "table");
        try {
            hsptab::FieldWriter writer(hsptab::parse_fields(fields), output, comments, false);
            outcome.warning = hsptab::report_warnings(convert(writer), "report");
            output.close();
        } catch (const Failure& failure) {
            outcome.failed = true;
            outcome.message = failure.what();
            outcome.line_number = failure.line_number;
        }
    }
    outcome.table = memory.text();
    return outcome;
}

}  // namespace

const bool general_readers_only = [] {
    const char* value = std::getenv("HSPTAB_GENERAL_READERS");
    bool only = value != nullptr && std::strcmp(value, "1") == 0;
    if (only) hsptab::quick_readers_first = false;
    return only;
}();

QuickReaders::QuickReaders(bool on) : before_(hsptab::quick_readers_first) { hsptab::quick_readers_first = on; }

QuickReaders::~QuickReaders() { hsptab::quick_readers_first = before_; }

HspOutcome convert_hsps_as_given(std::string_view report, const std::string& fields, bool comments,
                                 std::size_t block_size, const Kernel& kernel) {
    return run_conversion(fields, comments, [&](hsptab::FieldWriter& writer) {
        ReportReader reader(stream_holding(report), "report", block_size);
        hsptab::ReportNotes unaligned = hsptab::convert(reader, writer, kernel);
        reader.close();
        return unaligned;
    });
}

HspOutcome convert_hsps_in_stretches(std::string_view report, const std::string& fields, bool comments,
                                     std::size_t stretch_size, const Kernel& kernel, std::uint64_t size_at_start) {
    return run_conversion(fields, comments, [&](hsptab::FieldWriter& writer) {
        FileHandle stream = stream_holding(report);
        std::optional<hsptab::ReportNotes> unaligned = hsptab::convert_in_stretches(
            fileno(stream.get()), "report", writer, stretch_size, kernel, size_at_start, piece_threads());
        if (!unaligned) throw std::runtime_error("no second thread for the conversion in stretches");
        return *unaligned;
    });
}

bool operator==(const HspOutcome& a, const HspOutcome& b) {
    return a.table == b.table && a.failed == b.failed && a.message == b.message && a.line_number == b.line_number &&
           a.warning == b.warning;
}

HspOutcome convert_hsps(std::string_view report, const std::string& fields, bool comments, std::size_t block_size,
                        const Kernel& kernel) {
    HspOutcome plain = convert_hsps_as_given(report, fields, comments, block_size, kernel);
    if (is_packed(report)) return plain;
    // An HTML page is read from start to end, never in stretches.
    HspOutcome in_stretches =
        hsptab::begins_html(report) ? plain : convert_hsps_in_stretches(report, fields, comments, block_size, kernel);
    if (!(in_stretches == plain)) {
        in_stretches.failed = true;
        in_stretches.message = "read in stretches, the report converts otherwise: " + in_stretches.message;
        return in_stretches;
    }
    for (const PackedForm& form : packed_forms(block_size)) {
        HspOutcome packed = convert_hsps_as_given(pack(report, form), fields, comments, block_size, kernel);
        if (!(packed == plain)) {
            packed.failed = true;
            packed.message =
                std::string("packed as ") + form.name + ", the report converts otherwise: " + packed.message;
            return packed;
        }
    }
    return plain;
}

}  // namespace hittab::tests
