#include "driver.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "failure.hpp"
#include "file.hpp"
#include "html_text.hpp"
#include "kernel.hpp"
#include "layout_reader.hpp"
#include "ordered_pieces.hpp"
#include "row_output.hpp"
#include "stretch_conversion.hpp"
#include "stretch_reader.hpp"

#ifndef HITTAB_VERSION
#define HITTAB_VERSION "unknown"
#endif

namespace hittab::hsptab {

namespace {

constexpr const char program[] = "hsptab";
constexpr const char standard_input[] = "-";
constexpr const char standard_input_name[] = "standard input";
constexpr const char standard_output_name[] = "standard output";

constexpr const char usage[] =
    "usage: hsptab [-f FIELDS] [-o TABLE] [-t THREADS] [--comments] [--header] [REPORT ...]\n";

constexpr const char help[] =
    "Converts BLAST text reports (every BLAST+ program, legacy blastall, the web\n"
    "page's text download) into BLAST's tabular output: one row per alignment.\n"
    "\n"
    "  REPORT       a text report; none, or -, reads standard input\n"
    "  -f FIELDS    BLAST's tabular keywords in one argument, separated by spaces\n"
    "               (default \"std\": qseqid sseqid pident length mismatch gapopen\n"
    "               qstart qend sstart send evalue bitscore)\n"
    "  -o TABLE     write TABLE, a new file, instead of standard output\n"
    "  -t THREADS   threads converting a large plain report file (default: one\n"
    "               per processor available, at most 16; 1 reads it in order)\n"
    "  --comments   the comment lines of BLAST's commented table around each query\n"
    "  --header     a first row naming the fields\n"
    "  --help       this text\n"
    "  --version    the version\n"
    "\n"
    "Known fields: qseqid qlen sseqid stitle slen pident length mismatch gapopen\n"
    "gaps nident positive ppos qstart qend sstart send qframe sframe frames\n"
    "sstrand evalue bitscore score qcovhsp btop qseq sseq. See man hsptab.\n";

struct Options {
    std::string fields = "std";
    std::optional<std::string> table;
    bool comments = false;
    bool header = false;
    unsigned threads = 0;  // 0: as many as threads_for gives
    std::vector<std::string> reports;
};

// "-t N": a count of threads, 1 or more; past most_threads, most_threads.
unsigned thread_count(const std::string& text, const std::string& option) {
    unsigned long count = 0;
    bool digits = !text.empty() && text.size() <= 9 &&
                  std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) count = std::stoul(text);
    if (count == 0) throw UsageError{"option " + option + " needs a count of threads, 1 or more, not '" + text + "'"};
    return static_cast<unsigned>(std::min<unsigned long>(count, most_threads));
}

enum class Request { convert, help, version };

// Reads the arguments; a usage error is raised as UsageError.
Request parse(int argc, const char* const* argv, Options& options) {
    bool only_reports = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&](const char* option) {
            if (i + 1 >= argc) throw UsageError{std::string("option ") + option + " needs a value"};
            return std::string(argv[++i]);
        };
        if (only_reports || argument == standard_input || argument.empty() || argument[0] != '-') {
            // Standard input can be read once: a second "-" would read nothing, or fail.
            if (argument == standard_input &&
                std::find(options.reports.begin(), options.reports.end(), argument) != options.reports.end()) {
                throw UsageError{"standard input (-) is given twice"};
            }
            options.reports.push_back(argument);
        } else if (argument == "--") {
            only_reports = true;
        } else if (argument == "-f") {
            options.fields = value("-f");
        } else if (argument == "-o") {
            options.table = value("-o");
        } else if (argument == "-t" || argument == "--threads") {
            options.threads = thread_count(value(argument.c_str()), argument);
        } else if (argument == "--comments") {
            options.comments = true;
        } else if (argument == "--header") {
            options.header = true;
        } else if (argument == "--help" || argument == "-h") {
            return Request::help;
        } else if (argument == "--version") {
            return Request::version;
        } else {
            throw UsageError{"unknown option '" + argument + "'"};
        }
    }
    if (options.reports.empty()) options.reports.push_back(standard_input);
    return Request::convert;
}

void warn(const std::string& warning) {
    if (!warning.empty()) std::fputs(warning.c_str(), stderr);
}

std::string name_of(const std::string& report) { return report == standard_input ? standard_input_name : report; }

// Converts every report in order; `current` names the one being read.
void convert_all(const Options& options, std::vector<Field> fields, std::string& current) {
    for (const std::string& report : options.reports) {
        if (report != standard_input) {
            require_report_entry(report);
        } else if (fcntl(STDIN_FILENO, F_GETFD) == -1) {
            // Closed (`hsptab <&-`): said before the table could take its descriptor.
            throw io_failure("read report", standard_input_name, errno);
        }
    }
    if (options.table) require_no_table_entry(*options.table);
    RowOutput output = options.table ? RowOutput(create_exclusively(*options.table), *options.table)
                                     : RowOutput(FileHandle(stdout), standard_output_name);
    try {
        FieldWriter writer(std::move(fields), output, options.comments, options.header);
        for (const std::string& report : options.reports) {
            current = name_of(report);
            if (report == standard_input) {
                ReportReader reader(FileHandle(stdin), current);
                ReportNotes unaligned = convert(reader, writer);
                reader.close();
                warn(report_warnings(unaligned, current));
                continue;
            }
            FileHandle report_fp = open_for_reading(report);
            int descriptor = fileno(report_fp.get());
            // A large plain report in a regular file is read in pieces on
            // several threads at once; anything else from start to end.
            std::optional<ReportNotes> unaligned;
            unsigned threads = threads_for(UINT64_MAX, options.threads);
            if (threads > 1 && descriptor >= 0 && reads_in_stretches(descriptor, 2 * default_block_size)) {
                unaligned = convert_in_stretches(descriptor, report, writer, default_block_size, best_kernel(),
                                                 size_now, threads);
            }
            if (unaligned) {
                close_stream(std::move(report_fp), "close report", report);
            } else {
                ReportReader reader(std::move(report_fp), report);
                unaligned = convert(reader, writer);
                reader.close();
            }
            warn(report_warnings(*unaligned, current));
        }
    } catch (Failure& failure) {
        failure.unfinished_table = output.close_after_failure();
        throw;
    }
    output.close();
}

}  // namespace

ReportNotes convert(ReportReader& report, FieldWriter& writer, const Kernel& kernel) {
    LayoutReader layout(report.path(), writer, kernel);
    std::uint64_t line_number = 0;
    try {
        PaddedView lines = report.next_lines();
        // A report written with -html is read as the text its page shows.
        std::optional<HtmlText> html;
        if (begins_html(lines.text())) {
            html.emplace();
            layout.read_as_html();
        }
        for (; !lines.empty(); lines = report.next_lines()) {
            layout.read_lines(html ? html->text_of(lines) : lines, line_number);
        }
        layout.finish(line_number);
        if (html && !html->text_ended()) {
            throw layout_failure("the HTML page ends early, before the </PRE> that ends its report", line_number);
        }
    } catch (const Failure& failure) {
        // A line that breaks the layout may be damage that its checksum tells later on.
        if (failure.kind != FailureKind::io) report.raise_damage_in_rest();
        throw;
    }
    return layout.notes();
}

std::string report_warnings(const ReportNotes& notes, const std::string& report) {
    std::string prefix = std::string(program) + ": warning: '" + report + "': ";
    if (notes.empty) return prefix + "the report is empty: it gives no rows\n";
    std::string warnings;
    if (notes.unnamed_subjects != 0) {
        warnings += prefix + std::to_string(notes.unnamed_subjects) +
                    (notes.unnamed_subjects == 1 ? " subject is" : " subjects are") +
                    " shown without a definition line, and the report does not give their IDs: "
                    "their sseqid and stitle are N/A\n";
    }
    const UnalignedSubjects& subjects = notes.unaligned;
    if (subjects.queries == 0) return warnings;
    std::string which = subjects.queries == 1 ? "query " + subjects.first_query + " lists "
                                              : std::to_string(subjects.queries) + " queries list ";
    return warnings + prefix + which + std::to_string(subjects.listed) + " subjects, " +
           std::to_string(subjects.unaligned) +
           " without an alignment in the report: their rows are not in the table\n";
}

int run(int argc, const char* const* argv) {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);  // past a file size limit, a write fails and is reported
#endif
    Options options;
    std::vector<Field> fields;
    try {
        switch (parse(argc, argv, options)) {
            case Request::help:
                std::fputs(usage, stdout);
                std::fputs(help, stdout);
                return std::fflush(stdout) == 0 ? 0 : 1;
            case Request::version: std::printf("hsptab %s\n", HITTAB_VERSION); return std::fflush(stdout) == 0 ? 0 : 1;
            case Request::convert: break;
        }
        fields = parse_fields(options.fields);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "hsptab: %s\n%s", error.message.c_str(), usage);
        return 2;
    }
    std::string current;
    try {
        convert_all(options, std::move(fields), current);
        return 0;
    } catch (const Failure& failure) {
        // A reader that stopped reading (`hsptab r.txt | head`) is no failure worth a word.
        if (failure.kind == FailureKind::io && failure.error_number == EPIPE && !options.table) return 128 + SIGPIPE;
        std::fputs(describe(failure, program, current).c_str(), stderr);
    } catch (const std::bad_alloc&) {
        std::fputs(describe_out_of_memory(program, current).c_str(), stderr);
    } catch (const std::exception& error) {
        std::fputs(describe_unexpected(program, error).c_str(), stderr);
    }
    return 1;
}

}  // namespace hittab::hsptab
