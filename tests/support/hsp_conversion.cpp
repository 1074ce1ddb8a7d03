#include "hsp_conversion.hpp"

#include "compression.hpp"
#include "conversion.hpp"
#include "failure.hpp"
#include "hsptab/driver.hpp"
#include "hsptab/field_writer.hpp"
#include "memory_streams.hpp"
#include "row_output.hpp"

namespace hittab::tests {

HspOutcome convert_hsps_as_given(std::string_view report, const std::string& fields, bool comments,
                                 std::size_t block_size, const Kernel& kernel) {
    MemoryTable memory;
    HspOutcome outcome;
    {
        RowOutput output(memory.stream(), "table");
        try {
            hsptab::FieldWriter writer(hsptab::parse_fields(fields), output, comments, false);
            ReportReader reader(stream_holding(report), "report", block_size);
            hsptab::convert(reader, writer, kernel);
            reader.close();
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

bool operator==(const HspOutcome& a, const HspOutcome& b) {
    return a.table == b.table && a.failed == b.failed && a.message == b.message && a.line_number == b.line_number;
}

HspOutcome convert_hsps(std::string_view report, const std::string& fields, bool comments, std::size_t block_size,
                        const Kernel& kernel) {
    HspOutcome plain = convert_hsps_as_given(report, fields, comments, block_size, kernel);
    if (is_packed(report)) return plain;
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
