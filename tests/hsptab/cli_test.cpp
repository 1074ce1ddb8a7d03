// hsptab end to end: the command line, standard input and output, the
// table it never overwrites, and failures that name the report and line.
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

Finished run_hsptab(const ScratchDir& dir, const std::vector<std::string>& args, Limits limits = {}) {
    return run_program(HSPTAB_BINARY, dir, args, limits);
}

std::string report_with(const std::string& query, int alignments) {
    std::string text =
        "BLASTN 2.12.0+\n\nDatabase: db\n\nQuery= " + query + "\n\nLength=20\n\n>s1 subject\nLength=30\n\n";
    for (int i = 0; i < alignments; ++i) {
        text +=
            " Score = 30.0 bits (32),  Expect = 1e-05\n Identities = 10/10 (100%), Gaps = 0/10 (0%)\n"
            " Strand=Plus/Plus\n\nQuery  1   ACGTACGTAC  10\n           ||||||||||\nSbjct  11  ACGTACGTAC  20\n\n";
    }
    return text +
           "Lambda      K        H\n    1.33    0.621     1.12 \n\nEffective search space used: 200\n\n\n"
           "  Database: db\n    Posted date:  Dec 8, 2026  1:43 PM\n  Number of letters in database: 30\n"
           "  Number of sequences in database:  1\n\n\n\nMatrix: blastn matrix 1 -2\n"
           "Gap Penalties: Existence: 0, Extension: 2.5\n";
}

std::string row_of(const std::string& query) { return query + "\ts1\t100.000\t10\t0\t0\t1\t10\t11\t20\t1e-05\t30.0\n"; }

const std::string usage = "usage: hsptab [-f FIELDS] [-o TABLE] [-t THREADS] [--comments] [--header] [REPORT ...]\n";

TEST(HsptabCommandLine, HelpAndVersionGoToStandardOutput) {
    ScratchDir dir;
    Finished help = run_hsptab(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, usage.size()), usage);
    EXPECT_NE(help.out.find("qcovhsp"), std::string::npos);
    EXPECT_EQ(help.err, "");
    Finished version = run_hsptab(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, 7), "hsptab ");
    EXPECT_EQ(version.err, "");
}

TEST(HsptabCommandLine, UsageErrorsExitWithStatusTwoAndTheUsage) {
    ScratchDir dir;
    write_file(dir / "r", report_with("q", 1));
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    };
    const Case cases[] = {
        {{"--nope", "r"}, "hsptab: unknown option '--nope'\n"},
        {{"-f"}, "hsptab: option -f needs a value\n"},
        {{"r", "-o"}, "hsptab: option -o needs a value\n"},
        {{"-f", "", "r"}, "hsptab: no fields given\n"},
        {{"-t", "0", "r"}, "hsptab: option -t needs a count of threads, 1 or more, not '0'\n"},
        {{"--threads", "two", "r"}, "hsptab: option --threads needs a count of threads, 1 or more, not 'two'\n"},
        {{"-t", "-1", "r"}, "hsptab: option -t needs a count of threads, 1 or more, not '-1'\n"},
        {{"r", "-t"}, "hsptab: option -t needs a value\n"},
    };
    for (const Case& c : cases) {
        Finished run = run_hsptab(dir, c.args);
        EXPECT_EQ(run.status, 2) << c.first_line;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.first_line + usage);
    }
    Finished unknown = run_hsptab(dir, {"-f", "qseqid pidnet", "r"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.substr(0, 62), "hsptab: unknown field 'pidnet'; the known fields are std qseqi");
    EXPECT_NE(unknown.err.find(" sseq\n"), std::string::npos);
    EXPECT_EQ(unknown.out, "");
}

TEST(HsptabInput, StandardInputWhenNoReportOrADash) {
    ScratchDir dir;
    write_file(dir / "r", report_with("q", 1));
    Limits from_file;
    from_file.input = "r";
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-"}, {"--header", "-"}}) {
        Finished run = run_hsptab(dir, args, from_file);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string header = args.size() == 2 ? "qseqid\tsseqid\tpident\tlength\tmismatch\tgapopen\tqstart\tqend\t"
                                                "sstart\tsend\tevalue\tbitscore\n"
                                              : "";
        EXPECT_EQ(run.out, header + row_of("q"));
    }
}

TEST(HsptabInput, ReportsInTheOrderGivenIntoOneTable) {
    ScratchDir dir;
    write_file(dir / "a", report_with("qa", 2));
    write_file(dir / "b", report_with("qb", 1));
    write_file(dir / "empty", "");
    Finished run = run_hsptab(dir, {"b", "empty", "a"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, row_of("qb") + row_of("qa") + row_of("qa"));
    EXPECT_EQ(run.err, "hsptab: warning: 'empty': the report is empty: it gives no rows\n");
}

// A report file large enough to be read in pieces gives the table of
// standard input whatever the count of threads.
TEST(HsptabInput, EveryCountOfThreadsGivesTheSameTable) {
    ScratchDir dir;
    std::string report = "BLASTN 2.12.0+\n\nDatabase: db\n\nQuery= q\n\nLength=20\n\n";
    for (int s = 0; s < 16000; ++s) {
        report += ">s" + std::to_string(s) +
                  " subject\nLength=30\n\n Score = 30.0 bits (32),  Expect = 1e-05\n"
                  " Identities = 10/10 (100%), Gaps = 0/10 (0%)\n Strand=Plus/Plus\n\n"
                  "Query  1   ACGTACGTAC  10\n           ||||||||||\nSbjct  11  ACGTACGTAC  20\n\n";
    }
    report += "  Database: db\n  Number of sequences in database:  1\n\nMatrix: blastn matrix 1 -2\n";
    ASSERT_GT(report.size(), 3u << 20);
    write_file(dir / "r", report);
    Limits from_file;
    from_file.input = "r";
    Finished piped = run_hsptab(dir, {"-"}, from_file);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(std::count(piped.out.begin(), piped.out.end(), '\n'), 16000);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"r"}, {"-t", "1", "r"}, {"-t", "3", "r"}, {"--threads", "8", "r"}, {"-t", "99", "r"}}) {
        Finished run = run_hsptab(dir, args);
        EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
        EXPECT_EQ(run.out, piped.out) << args[0] << " " << args[1];
    }
}

TEST(HsptabInput, MissingReportStopsBeforeAnythingIsWritten) {
    ScratchDir dir;
    write_file(dir / "a", report_with("qa", 1));
    Finished run = run_hsptab(dir, {"a", "absent", "-o", "t"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "hsptab: precondition failed: the report 'absent' does not exist\n");
    EXPECT_FALSE(fs::exists(dir / "t"));
}

// A path that cannot be examined says why, and stops before a table is made.
TEST(HsptabInput, PathsThatCannotBeExaminedSayWhy) {
    ScratchDir dir;
    write_file(dir / "a", report_with("qa", 1));
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"a/r", "-o", "t"}, "hsptab: precondition failed: the report 'a/r' cannot be examined: Not a directory\n"},
        {{"loop1", "-o", "t"},
         "hsptab: precondition failed: the report 'loop1' cannot be examined: Too many levels of symbolic links\n"},
        {{"a", "-o", "a/t"}, "hsptab: input/output failure: cannot create table 'a/t': Not a directory\n"},
    };
    for (const auto& [args, err] : cases) {
        Finished run = run_hsptab(dir, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, err);
        EXPECT_FALSE(fs::exists(dir / "t"));
    }
}

// Standard input is read once; closed, it fails at once instead of waiting.
TEST(HsptabInput, StandardInputClosedOrGivenTwice) {
    ScratchDir dir;
    write_file(dir / "a", report_with("qa", 1));
#ifndef HITTAB_EMULATOR  // the emulator may take descriptor 0 for itself
    for (const char* table : {"", " -o t"}) {
        Finished closed = run_shell(dir, "timeout 20 " + command_line_for(HSPTAB_BINARY) + table + " <&-");
        EXPECT_EQ(closed.status, 1) << table;
        EXPECT_EQ(closed.err,
                  "hsptab: input/output failure: cannot read report 'standard input': Bad file descriptor\n")
            << table;
        EXPECT_FALSE(fs::exists(dir / "t"));
    }
#endif
    Limits from_file;
    from_file.input = "a";
    Finished twice = run_hsptab(dir, {"-", "a", "-"}, from_file);
    EXPECT_EQ(twice.status, 2);
    EXPECT_EQ(twice.out, "");
    EXPECT_EQ(twice.err, "hsptab: standard input (-) is given twice\n" + usage);
}

TEST(HsptabOutput, TableIsCreatedNeverOverwritten) {
    ScratchDir dir;
    write_file(dir / "r", report_with("q", 1));
    Finished created = run_hsptab(dir, {"-o", "t", "r"});
    EXPECT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.out, "");
    EXPECT_EQ(read_file(dir / "t"), row_of("q"));

    write_file(dir / "old", "keep me\n");
    fs::create_symlink("nowhere", dir / "dangling");
    for (const char* taken : {"old", "dangling", "r"}) {
        Finished run = run_hsptab(dir, {"r", "-o", taken});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, std::string("hsptab: precondition failed: the table '") + taken +
                               "' already exists; it is left untouched\n");
    }
    EXPECT_EQ(read_file(dir / "old"), "keep me\n");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_EQ(read_file(dir / "r"), report_with("q", 1));
}

TEST(HsptabOutput, WriteFailureIsReported) {
    ScratchDir dir;
    write_file(dir / "r", report_with("q", 2000));
    Limits limits;
    limits.file_size = 1000;
    Finished run = run_hsptab(dir, {"r", "-o", "t"}, limits);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "hsptab: input/output failure: cannot write table 't': File too large\n");
}

TEST(HsptabOutput, AReaderThatStopsEarlyIsNoFailure) {
    ScratchDir dir;
    write_file(dir / "r", report_with("q", 200000));
    Finished run = run_shell(dir, command_line_for(HSPTAB_BINARY) + " r | head -n 1");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, row_of("q"));
    EXPECT_EQ(run.err, "");
}

TEST(HsptabCompressed, ReportsOfEveryFormInOneRunAndOnStandardInput) {
    ScratchDir dir;
    write_file(dir / "a", report_with("a", 1));
    write_file(dir / "b", report_with("b", 2));
    write_file(dir / "a.gz", pack(report_with("a", 1), {"gzip", Packing::gzip, 0}));
    write_file(dir / "b.zst", pack(report_with("b", 2), {"zstd", Packing::zstd, 0}));
    write_file(dir / "a.bz2", pack(report_with("a", 1), {"bzip2", Packing::bzip2, 0}));
    write_file(dir / "b.xz", pack(report_with("b", 2), {"xz", Packing::xz, 0}));
    Finished mixed = run_hsptab(dir, {"a.gz", "b.zst", "a", "a.bz2", "b.xz"});
    EXPECT_EQ(mixed.status, 0) << mixed.err;
    EXPECT_EQ(mixed.out,
              row_of("a") + row_of("b") + row_of("b") + row_of("a") + row_of("a") + row_of("b") + row_of("b"));

    Limits from_file;
    from_file.input = "b.zst";
    Finished redirected = run_hsptab(dir, {}, from_file);
    EXPECT_EQ(redirected.status, 0) << redirected.err;
    EXPECT_EQ(redirected.out, row_of("b") + row_of("b"));

    Finished piped = run_shell(dir, "cat a.gz | " + command_line_for(HSPTAB_BINARY) + " -");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, row_of("a"));
}

TEST(HsptabCompressed, DamageKeepsEarlierRowsAndNamesTheReport) {
    ScratchDir dir;
    write_file(dir / "a", report_with("a", 1));
    ASSERT_EQ(run_shell(dir, "gzip -c a > a.gz && cp a.gz bad.gz && printf garbage >> bad.gz").status, 0);
    Finished run = run_hsptab(dir, {"a", "bad.gz"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, row_of("a") + row_of("a"));
    EXPECT_EQ(run.err,
              "hsptab: input/output failure: cannot read report 'bad.gz': gzip: unexpected bytes after the "
              "last member\n");
}

// Damage that decodes into a line breaking the layout is named as the
// damage its checksum tells, after the rows before that line.
TEST(HsptabCompressed, DamageIsNamedBeforeALineItBroke) {
    ScratchDir dir;
    std::string report = report_with("q", 3);
    report.replace(report.rfind("Sbjct"), 26, "Sbjct  11  ACG\n");  // cut short
    for (Packing packing : {Packing::gzip, Packing::zstd, Packing::bzip2, Packing::xz}) {
        DamagedAtTheEnd damaged = packed_with_a_bad_checksum(report + std::string(300000, '\n'), packing);
        write_file(dir / "r.z", damaged.packed);
        Finished run = run_hsptab(dir, {"r.z"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, row_of("q") + row_of("q"));
        EXPECT_EQ(run.err, "hsptab: input/output failure: cannot read report 'r.z': " + damaged.damage + "\n");
    }
    // Intact, the same line is a layout failure.
    write_file(dir / "r.gz", pack(report, {"gzip", Packing::gzip, 0}));
    Finished intact = run_hsptab(dir, {"r.gz"});
    EXPECT_EQ(intact.status, 1);
    EXPECT_EQ(intact.err.rfind("hsptab: layout failure at line ", 0), 0u) << intact.err;
}

TEST(HsptabFailures, NameTheReportAndTheLineAndKeepEarlierRows) {
    ScratchDir dir;
    std::string whole = report_with("q", 2);
    write_file(dir / "cut", whole.substr(0, whole.rfind("Sbjct")));
    write_file(dir / "bz2", "BZh91AY&SY\x8f binary");
    write_file(dir / "good", report_with("g", 1));

    Finished cut = run_hsptab(dir, {"good", "cut"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.out, row_of("g") + row_of("q"));
    EXPECT_EQ(cut.err,
              "hsptab: layout failure at line 25 of 'cut': the report ends early, inside the alignment that "
              "begins at line 20\n");

    // bzip2 is read, so damage in it is named as such; an archive is named for what it is.
    Finished bz2 = run_hsptab(dir, {"bz2"});
    EXPECT_EQ(bz2.status, 1);
    EXPECT_EQ(bz2.out, "");
    EXPECT_EQ(bz2.err, "hsptab: input/output failure: cannot read report 'bz2': bzip2 data is corrupt\n");

    write_file(dir / "report.zip", "PK\x03\x04\x14\x00\x00\x00\x08\x00 and the rest");
    Finished zip = run_hsptab(dir, {"good", "report.zip"});
    EXPECT_EQ(zip.status, 1);
    EXPECT_EQ(zip.out, row_of("g"));
    EXPECT_EQ(zip.err,
              "hsptab: input/output failure: cannot read report 'report.zip': it is a zip archive, not a BLAST "
              "text report\n");
}

}  // namespace
}  // namespace hittab::tests
