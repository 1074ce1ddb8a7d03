// The kinds of failure that end a conversion, and the words they are reported in.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace hittab {

enum class FailureKind {
    precondition,  // wrong argument count, missing report, existing table
    unpacking,     // a title line without exactly three values after ">"
    index,         // a Score or Identities line that lacks a value
    io,            // the file system refused a create, read, write or close, or compressed data is damaged
    layout,        // hsptab: a line that breaks the layout of a BLAST report where a value is expected
};

// Every failure travels as this exception to the entry point, which reports
// it and ends the conversion with status 1.
struct Failure : std::runtime_error {
    Failure(FailureKind failure_kind, const std::string& message, std::uint64_t failing_line = 0, int system_error = 0)
        : std::runtime_error(message), kind(failure_kind), line_number(failing_line), error_number(system_error) {}

    FailureKind kind;
    std::uint64_t line_number;  // 1-based line of the report; 0 when no line is at fault
    int error_number;           // the system's error behind an I/O failure, when known
    // Why the table could not be completed on the way out, if it could not:
    // reported after the failure itself.
    std::string unfinished_table;
};

// The failures themselves. Their words are all here, in one place, because
// scripts and workflow managers match on them: change none without need.
Failure wrong_argument_count(int given, const char* usage);
Failure report_missing(const std::string& path);
// "the report '<path>' cannot be examined: <system message>"
Failure report_unreachable(const std::string& path, int error_number);
Failure table_exists(const std::string& path);
// "cannot <action> '<path>': <system message>"
Failure io_failure(const char* action, const std::string& path, int error_number);
// "cannot read report '<path>': <damage>", for compressed data that cannot be decoded.
Failure damaged_report(const std::string& path, const std::string& damage);
// "cannot read report '<path>': the report was cut short while being read",
// for a file that held fewer bytes than it did when reading began.
Failure report_cut_short(const std::string& path);
// "cannot read report '<path>': the report grew while being read", for a
// file that held more bytes than it did when reading began.
Failure report_grew(const std::string& path);
// "cannot read report '<path>': it is <what>, not a BLAST text report", for a
// file that is recognisably something else.
Failure not_a_report(const std::string& path, const std::string& what);
Failure too_few_values(std::size_t count, std::uint64_t line_number);
Failure too_many_values(std::uint64_t line_number);
Failure index_out_of_range(std::uint64_t line_number);
Failure layout_failure(const std::string& message, std::uint64_t line_number);

// The note for a table that lost rows on the way out of a failed run.
std::string table_not_completed(const std::string& path, int error_number);

// The lines written to standard error for `failure`, each starting with
// "<program>: ". Failures at a line name it and the report.
std::string describe(const Failure& failure, const char* program, const std::string& report_path);
std::string describe_out_of_memory(const char* program, const std::string& report_path);
std::string describe_unexpected(const char* program, const std::exception& error);

}  // namespace hittab
