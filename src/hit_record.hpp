// The record of the hit being read, and the kinds of failure that end a run.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace hittab {

// The values of the hit being read, in column order. Every field holds text
// copied byte for byte from the report; a field keeps its value until a later
// line overwrites it, also across hits.
struct HitRecord {
    std::string id1 = "id1";
    std::string id2 = "id2";
    std::string length = "length";
    std::string score = "score";
    std::string length2 = "length2";
    std::string e_value = "e_value";
    std::string identities = "identities";
    std::string gaps = "gaps";
    std::string strand = "strand";
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
};

}  // namespace hittab
