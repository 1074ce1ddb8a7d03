#include "hsp_conversion.hpp"

#include "failure.hpp"
#include "hsptab/driver.hpp"
#include "hsptab/field_writer.hpp"
#include "memory_streams.hpp"
#include "row_output.hpp"

namespace hittab::tests {

HspOutcome convert_hsps(std::string_view report, const std::string& fields, bool comments, std::size_t block_size,
                        const Kernel& kernel) {
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

}  // namespace hittab::tests
