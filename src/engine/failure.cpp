#include "failure.hpp"

#include <cstring>

namespace hittab {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string system_message(int error_number) {
    return error_number != 0 ? std::strerror(error_number) : "unknown error";
}

}  // namespace

Failure wrong_argument_count(int given, const char* usage) {
    return Failure(FailureKind::precondition, "expected 2 arguments, got " + std::to_string(given) + "\n" + usage);
}

Failure report_missing(const std::string& path) {
    return Failure(FailureKind::precondition, "the report " + quoted(path) + " does not exist");
}

Failure report_unreachable(const std::string& path, int error_number) {
    return Failure(FailureKind::precondition,
                   "the report " + quoted(path) + " cannot be examined: " + system_message(error_number), 0,
                   error_number);
}

Failure table_exists(const std::string& path) {
    return Failure(FailureKind::precondition, "the table " + quoted(path) + " already exists; it is left untouched");
}

Failure io_failure(const char* action, const std::string& path, int error_number) {
    return Failure(FailureKind::io,
                   std::string("cannot ") + action + " " + quoted(path) + ": " + system_message(error_number), 0,
                   error_number);
}

Failure damaged_report(const std::string& path, const std::string& damage) {
    return Failure(FailureKind::io, "cannot read report " + quoted(path) + ": " + damage);
}

Failure report_cut_short(const std::string& path) {
    return Failure(FailureKind::io,
                   "cannot read report " + quoted(path) + ": the report was cut short while being read");
}

Failure report_grew(const std::string& path) {
    return Failure(FailureKind::io,
                   "cannot read report " + quoted(path) +
                       ": the report grew while being read (is it still being written?); convert it once it is whole");
}

Failure not_a_report(const std::string& path, const std::string& what) {
    return Failure(FailureKind::io,
                   "cannot read report " + quoted(path) + ": it is " + what + ", not a BLAST text report");
}

Failure too_few_values(std::size_t count, std::uint64_t line_number) {
    return Failure(FailureKind::unpacking,
                   "not enough values to unpack (expected 4, got " + std::to_string(count) + ")", line_number);
}

Failure too_many_values(std::uint64_t line_number) {
    return Failure(FailureKind::unpacking, "too many values to unpack (expected 4)", line_number);
}

Failure index_out_of_range(std::uint64_t line_number) {
    return Failure(FailureKind::index, "list index out of range", line_number);
}

Failure layout_failure(const std::string& message, std::uint64_t line_number) {
    return Failure(FailureKind::layout, message, line_number);
}

std::string table_not_completed(const std::string& path, int error_number) {
    return "the table " + quoted(path) + " could not be completed: " + system_message(error_number);
}

std::string describe(const Failure& failure, const char* program, const std::string& report_path) {
    std::string text = std::string(program) + ": ";
    switch (failure.kind) {
        case FailureKind::precondition: text += "precondition failed: "; break;
        case FailureKind::unpacking: text += "unpacking failure"; break;
        case FailureKind::index: text += "index failure"; break;
        case FailureKind::io: text += "input/output failure: "; break;
        case FailureKind::layout: text += "layout failure"; break;
    }
    if (failure.kind == FailureKind::unpacking || failure.kind == FailureKind::index ||
        failure.kind == FailureKind::layout) {
        text += " at line " + std::to_string(failure.line_number) + " of " + quoted(report_path) + ": ";
    }
    text += failure.what();
    text += '\n';
    if (!failure.unfinished_table.empty()) text += std::string(program) + ": " + failure.unfinished_table + "\n";
    return text;
}

std::string describe_out_of_memory(const char* program, const std::string& report_path) {
    return std::string(program) + ": out of memory while reading " + quoted(report_path) + "\n";
}

std::string describe_unexpected(const char* program, const std::exception& error) {
    return std::string(program) + ": unexpected failure: " + error.what() + "\n";
}

}  // namespace hittab
