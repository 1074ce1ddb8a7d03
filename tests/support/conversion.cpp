#include "conversion.hpp"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "byte_search.hpp"
#include "scanner.hpp"
#include "table_writer.hpp"

namespace hittab::tests {

namespace {

// A table stream whose bytes can be read back after it is closed.
struct MemoryTable {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&bytes, &size);
    ~MemoryTable() { std::free(bytes); }
    std::string text() const { return std::string(bytes, size); }
};

// A stream that reads `text`, which must outlive it.
std::FILE* stream_holding(std::string_view text) {
    std::FILE* stream = text.empty() ? std::tmpfile() : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (stream == nullptr) throw std::runtime_error("no stream for the report");
    return stream;
}

template <typename ScanReport>
Outcome run_conversion(ScanReport scan_report) {
    MemoryTable memory;
    Outcome outcome;
    {
        TableWriter table(memory.stream, "table");
        try {
            HitRecord record;
            scan_report(record, table);
            dump(record, table);
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

Outcome convert(std::string_view report, std::size_t block_size) {
    return run_conversion([&](HitRecord& record, TableWriter& table) {
        ReportReader reader(stream_holding(report), "report", block_size);
        std::uint64_t line_number = 1;
        for (std::string_view lines = next_lines(reader); !lines.empty(); lines = next_lines(reader)) {
            line_number = scan_lines(lines, line_number, record, table);
        }
        close_report(reader);
    });
}

Outcome convert_line_by_line(std::string_view report) {
    std::string text;
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (report[i] != '\r') {
            text += report[i];
        } else {
            text += '\n';
            if (i + 1 < report.size() && report[i + 1] == '\n') ++i;
        }
    }
    std::size_t text_size = text.size();
    text.append(text_padding, '\0');  // the room the scanner may read past a line
    return run_conversion([&](HitRecord& record, TableWriter& table) {
        std::uint64_t line_number = 1;
        for (std::size_t start = 0; start < text_size; ++line_number) {
            std::size_t end = text.find('\n', start);
            end = end >= text_size ? text_size : end + 1;
            scan_line(std::string_view(text).substr(start, end - start), line_number, record, table);
            start = end;
        }
    });
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
