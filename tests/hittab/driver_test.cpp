// End to end: the built binary, run in a scratch directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "compression.hpp"
#include "run_hittab.hpp"
#include "scratch_dir.hpp"

namespace hittab::tests {
namespace {

namespace fs = std::filesystem;

const std::string header = "id1 id2 length score length2 e_value identities gaps strand\n";
const std::string usage = "usage: hittab REPORT TABLE\n";

const std::string two_hits =
    "BLASTN 2.12.0+\n\nQuery= q1\n\nLength=900\n"
    ">DRR001369.139710 GEKBKKN08JJ5PQ length=777\nLength=777\n\n"
    " Score = 1376 bits (745),  Expect = 0.0\n"
    " Identities = 745/745 (100%), Gaps = 0/745 (0%)\n"
    " Strand=Plus/Plus\n\n"
    "Query  1    ACGTACGTACGTACGTACGT  20\n"
    "            ||||||||||||||||||||\n"
    "Sbjct  1    ACGTACGTACGTACGTACGT  20\n\n"
    ">DRR001369.2 NAME2 length=50\nLength=50\n\n"
    " Score = 40.1 bits (20),  Expect = 3e-04\n"
    " Identities = 20/21 (95%), Gaps = 1/21 (4%)\n"
    " Strand=Plus/Minus\n";
const std::string two_rows = header +
                             "DRR001369.139710 GEKBKKN08JJ5PQ 777 1376 745 0.0 745/745 0/745 Plus/Plus\n"
                             "DRR001369.2 NAME2 50 40.1 20 3e-04 20/21 1/21 Plus/Minus\n";

std::vector<std::string> entries(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void expect_failure(const Finished& run, const std::string& report) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, report);
}

TEST(CommandLine, WrongArgumentCountTouchesNothing) {
    ScratchDir dir;
    write_file(dir / "r", two_hits);
    const std::vector<std::vector<std::string>> wrong = {{}, {"r"}, {"--help"}, {"r", "t", "u"}};
    for (const auto& args : wrong) {
        Finished run = run_hittab(dir, args);
        expect_failure(run, "hittab: precondition failed: expected 2 arguments, got " + std::to_string(args.size()) +
                                "\n" + usage);
        EXPECT_EQ(entries(dir), std::vector<std::string>{"r"});
    }
}

TEST(CommandLine, ConvertsAndSaysNothing) {
    ScratchDir dir;
    write_file(dir / "r", two_hits);
    Finished run = run_hittab(dir, {"r", "t"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(read_file(dir / "t"), two_rows);
}

TEST(CommandLine, EmptyReportGivesHeaderRow) {
    ScratchDir dir;
    write_file(dir / "r", "");
    EXPECT_EQ(run_hittab(dir, {"r", "t"}).status, 0);
    EXPECT_EQ(read_file(dir / "t"), header);
}

TEST(Preconditions, MissingReportCreatesNoTable) {
    ScratchDir dir;
    fs::create_symlink("nowhere", dir / "dangling");
    for (const char* report : {"absent", "", "dangling"}) {
        Finished run = run_hittab(dir, {report, "t"});
        expect_failure(run, std::string("hittab: precondition failed: the report '") + report + "' does not exist\n");
        EXPECT_FALSE(fs::exists(dir / "t"));
    }
}

TEST(Preconditions, AReportThatCannotBeExaminedSaysWhyAndCreatesNoTable) {
    ScratchDir dir;
    write_file(dir / "r", two_hits);
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    const std::pair<const char*, const char*> cases[] = {{"r/x", "Not a directory"},
                                                         {"loop1", "Too many levels of symbolic links"}};
    for (const auto& [report, why] : cases) {
        Finished run = run_hittab(dir, {report, "t"});
        expect_failure(run, std::string("hittab: precondition failed: the report '") + report +
                                "' cannot be examined: " + why + "\n");
        EXPECT_FALSE(fs::exists(dir / "t"));
    }
}

TEST(Preconditions, ExistingTableIsLeftExactlyAsItWas) {
    ScratchDir dir;
    write_file(dir / "r", two_hits);
    write_file(dir / "file", "old rows\n");
    write_file(dir / "empty", "");
    fs::create_directory(dir / "directory");
    fs::create_symlink("file", dir / "link");
    fs::create_symlink("nowhere", dir / "dangling");
    for (const char* table : {"file", "empty", "directory", "link", "dangling", "r"}) {
        Finished run = run_hittab(dir, {"r", table});
        expect_failure(run, std::string("hittab: precondition failed: the table '") + table +
                                "' already exists; it is left untouched\n");
    }
    EXPECT_EQ(read_file(dir / "file"), "old rows\n");
    EXPECT_EQ(read_file(dir / "empty"), "");
    EXPECT_EQ(read_file(dir / "r"), two_hits);
    EXPECT_TRUE(fs::is_empty(dir / "directory"));
    EXPECT_EQ(fs::read_symlink(dir / "link"), "file");
    EXPECT_EQ(fs::read_symlink(dir / "dangling"), "nowhere");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST(InputOutput, DirectoryAsReportLeavesAnEmptyTable) {
    ScratchDir dir;
    fs::create_directory(dir / "d");
    Finished run = run_hittab(dir, {"d", "t"});
    expect_failure(run, "hittab: input/output failure: cannot read report 'd': Is a directory\n");
    EXPECT_EQ(read_file(dir / "t"), "");
}

TEST(InputOutput, TableInMissingDirectory) {
    ScratchDir dir;
    write_file(dir / "r", two_hits);
    Finished run = run_hittab(dir, {"r", "no/t"});
    expect_failure(run, "hittab: input/output failure: cannot create table 'no/t': No such file or directory\n");
}

#if defined(__SANITIZE_THREAD__)
#define HITTAB_THREAD_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HITTAB_THREAD_SANITIZED 1
#endif
#endif

TEST(InputOutput, WriteFailurePastFileSizeLimitIsReported) {
#ifdef HITTAB_THREAD_SANITIZED
    GTEST_SKIP() << "ThreadSanitizer's signal handling lets SIGXFSZ end the process, which hittab ignores";
#endif
    ScratchDir dir;
    std::string large;  // its table fills the write buffer many times over
    for (int i = 0; i < 20000; ++i) large += "> seq" + std::to_string(i) + " name length=100\n Strand=Plus/Plus\n";
    write_file(dir / "large", large);
    write_file(dir / "small", two_hits);  // its table reaches the file only when it is closed
    for (const char* report : {"large", "small"}) {
        for (rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{300000}}) {
            if (std::string(report) == "small" && limit > 200) continue;
            fs::remove(dir / "t");
            Limits limits;
            limits.file_size = limit;
            Finished run = run_hittab(dir, {report, "t"}, limits);
            expect_failure(run, "hittab: input/output failure: cannot write table 't': File too large\n");
            EXPECT_LE(fs::file_size(dir / "t"), limit);
        }
    }
}

// Follows every failure on a title that does not split into three values.
const std::string other_reports_hint =
    "hittab: hittab reads reports against read databases, whose titles look like 'ID NAME length=N'; hsptab reads "
    "every other BLAST report\n";

TEST(InputOutput, RowsThatCannotReachTheTableAfterAFailureAreReportedToo) {
    ScratchDir dir;
    std::string report;  // its rows are still pending when the bad line ends the run
    std::string rows = header;
    for (int i = 0; i < 200; ++i) {
        report += "> seq" + std::to_string(i) + " name length=100\n";
        rows += "seq" + std::to_string(i) + " name 100 score length2 e_value identities gaps strand\n";
    }
    write_file(dir / "r", report + ">bad line here x y\n");
    Limits limits;
    limits.file_size = 1000;
    Finished run = run_hittab(dir, {"r", "t"}, limits);
    expect_failure(run, "hittab: unpacking failure at line 201 of 'r': too many values to unpack (expected 4)\n" +
                            other_reports_hint + "hittab: the table 't' could not be completed: File too large\n");
    EXPECT_EQ(read_file(dir / "t"), rows.substr(0, 1000));

    // Without the limit, the same run reports the bad line alone and keeps every row.
    fs::remove(dir / "t");
    run = run_hittab(dir, {"r", "t"});
    expect_failure(run, "hittab: unpacking failure at line 201 of 'r': too many values to unpack (expected 4)\n" +
                            other_reports_hint);
    EXPECT_EQ(read_file(dir / "t"), rows);
}

TEST(MalformedLines, FailureKeepsEarlierRowsAndNamesTheLine) {
    ScratchDir dir;
    write_file(dir / "r", two_hits + "\n>only two\n> c d e\n");
    Finished run = run_hittab(dir, {"r", "t"});
    expect_failure(run,
                   "hittab: unpacking failure at line 24 of 'r': not enough values to unpack (expected 4, got 3)\n" +
                       other_reports_hint);
    EXPECT_EQ(read_file(dir / "t"), two_rows);

    write_file(dir / "s", "\r\n\r\n> a b c\r\n Score = 1 bits\r\n");
    fs::remove(dir / "t");
    expect_failure(run_hittab(dir, {"s", "t"}), "hittab: index failure at line 4 of 's': list index out of range\n");
    EXPECT_EQ(read_file(dir / "t"), header);
}

TEST(LineEnds, CrLfAndLoneCrGiveTheSameTableAsLf) {
    ScratchDir dir;
    for (const char* line_end : {"\r\n", "\r"}) {
        std::string report;
        for (char c : two_hits) report += c == '\n' ? std::string(line_end) : std::string(1, c);
        write_file(dir / "r", report);
        fs::remove(dir / "t");
        EXPECT_EQ(run_hittab(dir, {"r", "t"}).status, 0);
        EXPECT_EQ(read_file(dir / "t"), two_rows);
    }
}

TEST(LineEnds, LastLineWithoutLineEndIsReadWhole) {
    ScratchDir dir;
    write_file(dir / "r", two_hits.substr(0, two_hits.size() - 1));
    EXPECT_EQ(run_hittab(dir, {"r", "t"}).status, 0);
    EXPECT_EQ(read_file(dir / "t"), two_rows);
}

TEST(LineEnds, LineLongerThanTheReadBlock) {
    ScratchDir dir;
    std::string long_id(3 * 1024 * 1024 + 17, 'A');
    write_file(dir / "r", "Query= q\r\n> " + long_id + " name length=9\r\n Strand=Plus/Plus\r\n" + two_hits);
    EXPECT_EQ(run_hittab(dir, {"r", "t"}).status, 0);
    // Compared without printing: a mismatch would show megabytes.
    EXPECT_TRUE(read_file(dir / "t") == header + long_id + " name 9 score length2 e_value identities gaps Plus/Plus\n" +
                                            two_rows.substr(header.size()));
}

}  // namespace
}  // namespace hittab::tests

namespace hittab::tests {
namespace {

// The bundled reports, written by the real BLAST+, and their checked tables.
TEST(Examples, BundledReportsGiveTheirTables) {
    for (const char* name : {"blastn_current", "blastn_older_layout"}) {
        ScratchDir dir;
        std::string examples = HITTAB_EXAMPLES;
        Finished run = run_hittab(dir, {examples + "/" + name + ".txt", "t"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_file(dir / "t"), read_file(examples + "/" + name + ".tsv")) << name;
    }
}

}  // namespace
}  // namespace hittab::tests

namespace hittab::tests {
namespace {

bool on_path(const ScratchDir& dir, const std::string& program) {
    return run_shell(dir, "command -v " + program + " >/dev/null").status == 0;
}

// Reports compressed by the tools people use, each under a name that says
// nothing of it, convert to the table of the plain report. A compressor that
// is not installed is left out, and the test says so as it is skipped.
TEST(CompressedReports, ReadByContentAsTheToolsWroteThem) {
    ScratchDir dir;
    std::string examples = HITTAB_EXAMPLES;
    std::string report = read_file(examples + "/blastn_current.txt");
    std::string table = read_file(examples + "/blastn_current.tsv");
    write_file(dir / "plain", report);
    const std::pair<const char*, const char*> compressors[] = {
        {"gzip", "gzip -c -9 -N plain"},
        {"gzip", "gzip -c -1 plain; gzip -c plain"},  // two members
        {"pigz", "pigz -c -b 32 plain"},
        {"bgzip", "bgzip -c plain"},
        {"zstd", "zstd -q -c -19 plain"},
        {"zstd", "zstd -q -c --no-check plain; zstd -q -c plain"},
        {"igzip", "igzip -c plain"},
        {"bzip2", "bzip2 -c -9 plain"},
        {"bzip2", "bzip2 -c -1 plain; bzip2 -c plain"},  // two streams
        {"pbzip2", "pbzip2 -c -b1 -p2 plain"},           // a stream per 100 kB
        {"xz", "xz -c -9 plain"},
        {"xz", "xz -c -T2 --block-size=20000 plain"},  // many blocks
        {"xz", "xz -c plain; xz -c plain"},            // two streams
    };
    std::vector<std::string> missing;
    for (const auto& [program, command] : compressors) {
        if (!on_path(dir, program)) {
            if (std::find(missing.begin(), missing.end(), program) == missing.end()) missing.push_back(program);
            continue;
        }
        fs::remove(dir / "report.txt");
        fs::remove(dir / "t");
        ASSERT_EQ(run_shell(dir, "(" + std::string(command) + ") > report.txt").status, 0) << command;
        Finished run = run_hittab(dir, {"report.txt", "t"});
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        std::string expected =
            std::string(command).find(';') != std::string::npos ? table + table.substr(table.find('\n') + 1) : table;
        EXPECT_TRUE(read_file(dir / "t") == expected) << command;
    }
    if (!missing.empty()) {
        std::string names;
        for (const std::string& program : missing) names += " " + program;
        GTEST_SKIP() << "not installed, so not tried:" << names << " (every other compressor passed)";
    }
}

TEST(CompressedReports, ThroughStandardInputAndProcessSubstitution) {
    ScratchDir dir;
    write_file(dir / "r", two_hits);
    write_file(dir / "r.gz", pack(two_hits, {"gzip", Packing::gzip, 0}));
    write_file(dir / "r.zst", pack(two_hits, {"zstd", Packing::zstd, 0}));
    const char* commands[] = {
        "cat r.gz | HITTAB /dev/stdin t",
        "bash -c \"HITTAB <(cat r.zst) t\"",
    };
    for (std::string command : commands) {
        command.replace(command.find("HITTAB"), 6, command_line_for(HITTAB_BINARY));
        fs::remove(dir / "t");
        Finished run = run_shell(dir, command);
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
        EXPECT_EQ(read_file(dir / "t"), two_rows) << command;
    }
}

// Damage that decodes into a title that cannot be read is named as the
// damage its checksum tells, after the rows before that title.
TEST(CompressedReports, DamageIsNamedBeforeATitleItBroke) {
    ScratchDir dir;
    std::string report = two_hits + "> a b c d\n" + std::string(300000, '\n');
    for (Packing packing : {Packing::gzip, Packing::zstd, Packing::bzip2, Packing::xz}) {
        DamagedAtTheEnd damaged = packed_with_a_bad_checksum(report, packing);
        write_file(dir / "r.z", damaged.packed);
        fs::remove(dir / "t");
        expect_failure(run_hittab(dir, {"r.z", "t"}),
                       "hittab: input/output failure: cannot read report 'r.z': " + damaged.damage + "\n");
        EXPECT_EQ(read_file(dir / "t"), two_rows);
    }
}

TEST(CompressedReports, TruncatedKeepsTheRowsBeforeAndSaysWhy) {
    ScratchDir dir;
    std::string report = "BLASTN 2.12.0+\n\nQuery= q1\n\nLength=900\n";
    std::string rows = header;
    for (int hit = 0; hit < 5000; ++hit) {
        std::string id = "read" + std::to_string(hit);
        report += ">" + id + " NAME length=" + std::to_string(hit) + "\n Score = 40.1 bits (20),  Expect = 3e-04\n";
        rows += id + " NAME " + std::to_string(hit) + " 40.1 20 3e-04 identities gaps strand\n";
    }
    const std::pair<PackedForm, const char*> forms[] = {{{"gzip", Packing::gzip, 0}, "gzip"},
                                                        {{"zstd", Packing::zstd, 0}, "zstd"},
                                                        {{"bzip2", Packing::bzip2, 0}, "bzip2"},
                                                        {{"xz", Packing::xz, 0}, "xz"}};
    for (const auto& [form, name] : forms) {
        std::string packed = pack(report, form);
        write_file(dir / "cut", packed.substr(0, packed.size() / 2));
        fs::remove(dir / "t");
        Finished run = run_hittab(dir, {"cut", "t"});
        expect_failure(
            run, "hittab: input/output failure: cannot read report 'cut': " + std::string(name) + " data ends early\n");
        std::string table = read_file(dir / "t");
        // About half the rows, each whole, and none that the report does not hold.
        EXPECT_GT(table.size(), rows.size() / 4) << name;
        EXPECT_TRUE(rows.compare(0, table.size(), table) == 0 && table.back() == '\n') << name;
    }
}

}  // namespace
}  // namespace hittab::tests
