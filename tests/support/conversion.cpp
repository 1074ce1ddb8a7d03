#include "conversion.hpp"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "byte_source.hpp"
#include "compression.hpp"
#include "hittab/driver.hpp"
#include "hittab/scanner.hpp"
#include "hittab/stretch_conversion.hpp"
#include "hittab/table_writer.hpp"
#include "memory_streams.hpp"
#include "padded_text.hpp"
#include "piece_threads.hpp"

namespace hittab::tests {

namespace {

template <typename ScanReport>
Outcome run_conversion(ScanReport scan_report) {
    MemoryTable memory;
    Outcome outcome;
    {
        TableWriter table{RowOutput(memory.stream(), "table")};
        try {
            scan_report(table);
            close_table(table);
        } catch (const Failure& failure) {
            outcome.failed = true;
            outcome.kind = failure.kind;
            outcome.message = failure.what();
            outcome.line_number = failure.line_number;
        }
    }
    outcome.table = memory.text();
    return outcome;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
    out << "table: \"" << outcome.table << "\"";
    if (outcome.failed) {
        out << ", failure " << static_cast<int>(outcome.kind) << " at line " << outcome.line_number << ": "
            << outcome.message;
    }
    return out;
}

Outcome convert_as_given(std::string_view report, std::size_t block_size, const Kernel& kernel) {
    return run_conversion([&](TableWriter& table) {
        ReportReader reader(stream_holding(report), "report", block_size);
        hittab::convert(reader, table, kernel);
        reader.close();
    });
}

Outcome convert_in_stretches(std::string_view report, std::size_t stretch_size, const Kernel& kernel,
                             std::uint64_t size_at_start) {
    return run_conversion([&](TableWriter& table) {
        FileHandle stream = stream_holding(report);
        if (!hittab::convert_in_stretches(fileno(stream.get()), "report", table, stretch_size, kernel, size_at_start,
                                          piece_threads())) {
            throw std::runtime_error("no second thread for the conversion in stretches");
        }
    });
}

Outcome convert(std::string_view report, std::size_t block_size, const Kernel& kernel) {
    Outcome plain = convert_as_given(report, block_size, kernel);
    if (is_packed(report)) return plain;
    Outcome in_stretches = convert_in_stretches(report, block_size, kernel);
    if (!(in_stretches == plain)) {
        in_stretches.failed = true;
        in_stretches.message = "read in stretches, the report converts otherwise: " + in_stretches.message;
        return in_stretches;
    }
    for (const PackedForm& form : packed_forms(block_size)) {
        Outcome packed = convert_as_given(pack(report, form), block_size, kernel);
        if (!(packed == plain)) return differs_when_packed(std::move(packed), form);
    }
    return plain;
}

Outcome convert_line_by_line(std::string_view report, const Kernel& kernel) {
    std::string text;
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (report[i] != '\r') {
            text += report[i];
        } else {
            text += '\n';
            if (i + 1 < report.size() && report[i + 1] == '\n') ++i;
        }
    }
    PaddedBuffer buffer = PaddedBuffer::copy_of(text);
    return run_conversion([&](TableWriter& table) {
        HitRecord record;
        std::uint64_t line_number = 1;
        for (std::size_t start = 0; start < text.size(); ++line_number) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end + 1;
            scan_line(buffer.view(start, end - start), line_number, record, table, kernel);
            start = end;
        }
        dump(record, table);
    });
}

bool is_packed(std::string_view report) {
    const auto* first_bytes = reinterpret_cast<const unsigned char*>(report.data());
    return recognise_form(first_bytes, report.size()) != StreamForm::plain ||
           not_a_text_report(first_bytes, report.size()) != nullptr;
}

Outcome differs_when_packed(Outcome packed, const PackedForm& form) {
    packed.failed = true;
    packed.message = std::string("packed as ") + form.name + ", the report converts otherwise: " + packed.message;
    return packed;
}

Outcome table_of(std::string table) {
    Outcome outcome;
    outcome.table = std::move(table);
    return outcome;
}

Outcome failure_of(std::string table, FailureKind kind, std::string message, std::uint64_t line_number) {
    Outcome outcome;
    outcome.table = std::move(table);
    outcome.failed = true;
    outcome.kind = kind;
    outcome.message = std::move(message);
    outcome.line_number = line_number;
    return outcome;
}

}  // namespace hittab::tests
