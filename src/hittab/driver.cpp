#include "driver.hpp"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <new>

#include "failure.hpp"
#include "hit_record.hpp"
#include "ordered_pieces.hpp"
#include "scanner.hpp"
#include "stretch_conversion.hpp"
#include "stretch_reader.hpp"

namespace hittab {

namespace {

constexpr const char program[] = "hittab";
constexpr const char usage_line[] = "usage: hittab REPORT TABLE";

// True for anything at the path itself, a dangling link included.
bool names_any_entry(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

void write_failure_report(const std::string& text) { std::fputs(text.c_str(), stderr); }

// A title that does not split into three values is most often a report
// against another kind of database: the line after the failure says which
// tool reads it.
std::string with_hint_for_other_reports(std::string text) {
    std::size_t failure_line_end = text.find('\n') + 1;
    text.insert(failure_line_end, std::string(program) +
                                      ": hittab reads reports against read databases, whose titles look like "
                                      "'ID NAME length=N'; hsptab reads every other BLAST report\n");
    return text;
}

}  // namespace

void convert(ReportReader& report, TableWriter& table, const Kernel& kernel) {
    HitRecord record;
    std::uint64_t line_number = 1;
    try {
        for (PaddedView lines = report.next_lines(); !lines.empty(); lines = report.next_lines()) {
            line_number = scan_lines(lines, line_number, record, table, kernel);
        }
    } catch (const Failure& failure) {
        // A line that cannot be read may be damage that its checksum tells later on.
        if (failure.kind != FailureKind::io) report.raise_damage_in_rest();
        throw;
    }
    dump(record, table);
}

void main(const std::string& blastoutputfilename, const std::string& outputfilename) {
    // A report that is there but cannot be examined is said so, with why, not said to be missing.
    require_report_entry(blastoutputfilename);
    if (names_any_entry(outputfilename)) throw table_exists(outputfilename);

    // The table is created before the report is opened; on the way out the
    // report is closed first, then the table.
    TableWriter table = create_table(outputfilename);
    try {
        FileHandle blast_fp = open_for_reading(blastoutputfilename);
        int descriptor = fileno(blast_fp.get());
        // A large plain report in a regular file is read and scanned in
        // stretches on several threads at once, one per processor; anything
        // else from start to end.
        if (threads_for(UINT64_MAX) > 1 && descriptor >= 0 && reads_in_stretches(descriptor, 2 * default_block_size) &&
            convert_in_stretches(descriptor, blastoutputfilename, table)) {
            close_stream(std::move(blast_fp), "close report", blastoutputfilename);
        } else {
            ReportReader report(std::move(blast_fp), blastoutputfilename);
            convert(report, table);
            report.close();
        }
    } catch (Failure& failure) {
        // The rows before the failure still go to the table; if they cannot,
        // the user must hear it, or a short table would pass for complete.
        failure.unfinished_table = table.output_fp.close_after_failure();
        throw;
    }
    close_table(table);
}

int run(int argc, const char* const* argv) {
#ifdef SIGXFSZ
    // Past a file size limit, a write should fail with EFBIG and be reported,
    // not kill the process silently.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    std::string report_path = argc > 1 ? argv[1] : "";
    try {
        if (argc != 3) throw wrong_argument_count(argc > 0 ? argc - 1 : 0, usage_line);
        main(argv[1], argv[2]);
        return 0;
    } catch (const Failure& failure) {
        std::string text = describe(failure, program, report_path);
        write_failure_report(failure.kind == FailureKind::unpacking ? with_hint_for_other_reports(text) : text);
    } catch (const std::bad_alloc&) {
        write_failure_report(describe_out_of_memory(program, report_path));
    } catch (const std::exception& error) {
        write_failure_report(describe_unexpected(program, error));
    }
    return 1;
}

}  // namespace hittab
