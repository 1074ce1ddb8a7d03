// Converts report text in memory through hsptab's reader, layout reader and
// field writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "kernel.hpp"
#include "report_reader.hpp"

namespace hittab::tests {

// HSPTAB_GENERAL_READERS=1 in the environment runs every conversion of
// these tests through the general readers alone, the quick readers of
// BLAST+'s usual lines left out: both must read every report the same.
// Whether it is set for this run.
extern const bool general_readers_only;

// The quick readers on or off for the scope of one test's reading, then
// as they were.
class QuickReaders {
public:
    explicit QuickReaders(bool on);
    ~QuickReaders();
    QuickReaders(const QuickReaders&) = delete;
    QuickReaders& operator=(const QuickReaders&) = delete;

private:
    bool before_;
};

// The statistics that close a BLAST+ blastn run, after its last query, as
// BLAST+ writes them: a report that stops before its "Matrix:" line is cut.
inline const std::string blast_plus_closing =
    "  Database: db\n    Posted date:  Dec 8, 2026  1:43 PM\n  Number of letters in database: 200\n"
    "  Number of sequences in database:  2\n\n\n\nMatrix: blastn matrix 1 -2\n"
    "Gap Penalties: Existence: 0, Extension: 2.5\n";

struct HspOutcome {
    std::string table;
    bool failed = false;
    std::string message;
    std::uint64_t line_number = 0;
    std::string warning;  // as hsptab writes it to standard error, or empty
};

// hsptab's conversion of `report`; unless the report is itself compressed,
// every form of packed_forms() must convert the same, or the outcome is a
// failure naming the form that differs.
HspOutcome convert_hsps(std::string_view report, const std::string& fields = "std", bool comments = false,
                        std::size_t block_size = default_block_size, const Kernel& kernel = best_kernel());

// The conversion of the report's bytes as they are.
HspOutcome convert_hsps_as_given(std::string_view report, const std::string& fields, bool comments,
                                 std::size_t block_size, const Kernel& kernel = best_kernel());

// The conversion of the report's bytes, a plain report, in stretches of
// `stretch_size` bytes, on piece_threads() threads. `size_at_start`, when given, stands for
// the size the file had as reading began: another size is a file that was
// cut short or grew once reading had begun.
HspOutcome convert_hsps_in_stretches(std::string_view report, const std::string& fields, bool comments,
                                     std::size_t stretch_size, const Kernel& kernel = best_kernel(),
                                     std::uint64_t size_at_start = ~std::uint64_t{0});

bool operator==(const HspOutcome& a, const HspOutcome& b);

}  // namespace hittab::tests
