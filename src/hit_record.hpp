// The record of the hit being read, and the kinds of failure that end a run.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <array>
#include <string>
#include <string_view>

namespace hittab {

// The values of the hit being read, in column order. A field keeps its value
// until a later line overwrites it, also across hits. Values are copied byte
// for byte from the report, but not copied at all while the text they come
// from is at hand: a field views the report text being scanned, and is moved
// into `kept` (see keep_values) before that text is replaced.
struct HitRecord {
    std::string_view id1 = "id1";
    std::string_view id2 = "id2";
    std::string_view length = "length";
    std::string_view score = "score";
    std::string_view length2 = "length2";
    std::string_view e_value = "e_value";
    std::string_view identities = "identities";
    std::string_view gaps = "gaps";
    std::string_view strand = "strand";

    // Own copies of the values, one per field, in column order.
    std::array<std::string, 9> kept;
};

enum class FailureKind {
    precondition,  // wrong argument count, missing report, existing table
    unpacking,     // a title line without exactly three values after ">"
    index,         // a Score or Identities line that lacks a value
    io,            // the file system refused a create, read, write or close
};

// Every failure travels as this exception to the entry point, which reports
// it and ends the run with status 1.
struct Failure : std::runtime_error {
    Failure(FailureKind failure_kind, const std::string& message, std::uint64_t failing_line = 0)
        : std::runtime_error(message), kind(failure_kind), line_number(failing_line) {}

    FailureKind kind;
    std::uint64_t line_number;  // 1-based line of the report; 0 when no line is at fault
    int error_number = 0;       // the system's error behind an I/O failure, when known
    // Why the table could not be completed on the way out, if it could not:
    // reported after the failure itself.
    std::string unfinished_table;
};

// "cannot <action> '<path>': <system message>" as an I/O failure.
[[noreturn]] inline void raise_io_failure(const char* action, const std::string& path, int error_number) {
    std::string message = std::string("cannot ") + action + " '" + path + "': ";
    message += error_number != 0 ? std::strerror(error_number) : "unknown error";
    Failure failure(FailureKind::io, message);
    failure.error_number = error_number;
    throw failure;
}

}  // namespace hittab
