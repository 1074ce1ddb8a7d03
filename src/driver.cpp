#include "driver.hpp"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string_view>

#include "hit_record.hpp"
#include "report_reader.hpp"
#include "scanner.hpp"
#include "table_writer.hpp"

namespace hittab {

namespace {

constexpr const char usage_line[] = "usage: hittab REPORT TABLE";

// True for anything the path names, links followed; false when nothing is
// there or the entry cannot be examined.
bool names_existing_entry(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::status(path, error));
}

// True for anything at the path itself, a dangling link included.
bool names_any_entry(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string describe(const Failure& failure, const std::string& report_path) {
    std::string text = "hittab: ";
    switch (failure.kind) {
        case FailureKind::precondition: text += "precondition failed: "; break;
        case FailureKind::unpacking: text += "unpacking failure"; break;
        case FailureKind::index: text += "index failure"; break;
        case FailureKind::io: text += "input/output failure: "; break;
    }
    if (failure.kind == FailureKind::unpacking || failure.kind == FailureKind::index) {
        text += " at line " + std::to_string(failure.line_number) + " of '" + report_path + "': ";
    }
    text += failure.what();
    text += '\n';
    if (!failure.unfinished_table.empty()) text += "hittab: " + failure.unfinished_table + "\n";
    return text;
}

void write_failure_report(const std::string& text) { std::fputs(text.c_str(), stderr); }

}  // namespace

void main(const std::string& blastoutputfilename, const std::string& outputfilename) {
    if (!names_existing_entry(blastoutputfilename)) {
        throw Failure(FailureKind::precondition, "the report '" + blastoutputfilename + "' does not exist");
    }
    if (names_any_entry(outputfilename)) raise_table_exists(outputfilename);

    HitRecord record;
    // The table is created before the report is opened; on the way out the
    // report is closed first, then the table.
    TableWriter table(outputfilename);
    try {
        ReportReader report(blastoutputfilename);
        std::uint64_t line_number = 1;
        for (std::string_view lines = next_lines(report); !lines.empty(); lines = next_lines(report)) {
            line_number = scan_lines(lines, line_number, record, table);
        }
        dump(record, table);
        close_report(report);
    } catch (Failure& failure) {
        // The rows before the failure still go to the table; if they cannot,
        // the user must hear it, or a short table would pass for complete.
        failure.unfinished_table = close_table_after_failure(table);
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
        if (argc != 3) {
            throw Failure(FailureKind::precondition,
                          "expected 2 arguments, got " + std::to_string(argc > 0 ? argc - 1 : 0) + "\n" +
                              usage_line);
        }
        main(argv[1], argv[2]);
        return 0;
    } catch (const Failure& failure) {
        write_failure_report(describe(failure, report_path));
    } catch (const std::bad_alloc&) {
        write_failure_report("hittab: out of memory while reading '" + report_path + "'\n");
    } catch (const std::exception& error) {
        write_failure_report(std::string("hittab: unexpected failure: ") + error.what() + "\n");
    }
    return 1;
}

}  // namespace hittab
