// Converts report text in memory through the real reader, scanner and
// writer, and through a deliberately simple line-by-line path to compare with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "compression.hpp"
#include "failure.hpp"
#include "kernel.hpp"
#include "report_reader.hpp"

namespace hittab::tests {

struct Outcome {
    std::string table;
    bool failed = false;
    FailureKind kind = FailureKind::precondition;
    std::string message;
    std::uint64_t line_number = 0;

    bool operator==(const Outcome& other) const {
        return table == other.table && failed == other.failed && message == other.message &&
               line_number == other.line_number && (!failed || kind == other.kind);
    }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome);

// The tool's own path: blocks of `block_size`, line search, scanner, writer.
// Unless the report is itself compressed, the same report read in stretches
// of `block_size`, and packed in every form of packed_forms(), must convert
// the same; an outcome that differs is returned as a failure naming the way.
Outcome convert(std::string_view report, std::size_t block_size = default_block_size,
                const Kernel& kernel = best_kernel());

// The tool's own path for the report's bytes as they are.
Outcome convert_as_given(std::string_view report, std::size_t block_size = default_block_size,
                         const Kernel& kernel = best_kernel());

// The tool's way for large plain reports in regular files: stretches of
// `stretch_size` bytes on piece_threads() threads. `size_at_start`, when given, stands for
// the size the file had as reading began: another size is a file that was
// cut short or grew once reading had begun.
Outcome convert_in_stretches(std::string_view report, std::size_t stretch_size = default_block_size,
                             const Kernel& kernel = best_kernel(), std::uint64_t size_at_start = ~std::uint64_t{0});

// Whether the report's first bytes announce a compressed stream, or a file
// that is recognisably not a report: the byte source decodes or refuses it
// rather than passing it on as plain text.
bool is_packed(std::string_view report);

// `packed`, the outcome of `form`, marked as differing from the plain report's.
Outcome differs_when_packed(Outcome packed, const PackedForm& form);

// The reference path: whole text in memory, line ends normalised with plain
// string operations, every line handed to the scanner.
Outcome convert_line_by_line(std::string_view report, const Kernel& kernel = best_kernel());

// An independent, deliberately plain converter that shares no code with the
// tool: the oracle for tests and fuzz targets.
Outcome convert_by_reference(std::string_view report);

// The ten whitespace bytes, and words split at them, by their plain definition.
bool is_whitespace_byte(char c);
std::vector<std::string> split_at_whitespace(const std::string& text);

// A successful outcome holding `table`.
Outcome table_of(std::string table);

// A failed outcome: the table written before the failure, and the failure.
Outcome failure_of(std::string table, FailureKind kind, std::string message, std::uint64_t line_number);

}  // namespace hittab::tests
