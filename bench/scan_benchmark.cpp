// In-memory throughput of the parts of a conversion, on a generated report
// (bench/generate_report): the line search alone with each kernel that runs
// here, the whole conversion with rows written to /dev/null, hittab's scanner
// and hsptab's layout reader alone; counting line ends with memchr is the
// yardstick.
// usage: scan_benchmark REPORT [benchmark flags]
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "hittab/driver.hpp"
#include "hittab/scanner.hpp"
#include "hittab/table_writer.hpp"
#include "hsptab/field_writer.hpp"
#include "hsptab/layout_reader.hpp"
#include "kernel.hpp"
#include "padded_text.hpp"
#include "report_reader.hpp"

namespace {

std::unique_ptr<hittab::PaddedBuffer> report;  // padded on both sides, as the reader's buffer is

hittab::TableWriter null_table() {
    return hittab::TableWriter{hittab::RowOutput(hittab::FileHandle(std::fopen("/dev/null", "w")), "/dev/null")};
}

void count_line_ends(benchmark::State& state) {
    const char* begin = report->data();
    const char* end = begin + report->capacity();
    for (auto _ : state) {
        std::size_t count = 0;
        for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) ++count;
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (end - begin));
}

// The search over the first `state.range(0)` bytes, again and again: small
// sizes stay in cache, as a block just read does.
void find_lines(benchmark::State& state, const hittab::Kernel* kernel) {
    hittab::CandidateLine lines[64];
    std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(state.range(0)), report->capacity());
    for (auto _ : state) {
        std::uint64_t line_number = 1;
        std::size_t found = 0;
        for (hittab::PaddedView rest = report->view(0, size); !rest.empty();) {
            found += kernel->find_candidate_lines(rest, line_number, lines, 64);
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

// The whole conversion, reader and its thread included, from a file in memory.
void convert_whole_report(benchmark::State& state) {
    int in_memory = memfd_create("report", MFD_CLOEXEC);
    if (in_memory < 0 ||
        write(in_memory, report->data(), report->capacity()) != static_cast<ssize_t>(report->capacity())) {
        state.SkipWithError("no file in memory for the report");
        return;
    }
    for (auto _ : state) {
        lseek(in_memory, 0, SEEK_SET);
        hittab::FileHandle stream(fdopen(dup(in_memory), "rb"));
        hittab::ReportReader reader(std::move(stream), "report");
        hittab::TableWriter table = null_table();
        hittab::convert(reader, table);
        hittab::close_table(table);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(report->capacity()));
    close(in_memory);
}

// The report in memory in runs of whole lines of at most a block, as the
// block reader hands them out, each given to `read`.
template <typename Read>
void for_each_block(Read&& read) {
    const std::size_t block = hittab::default_block_size;
    std::size_t from = 0;
    while (from < report->capacity()) {
        std::string_view rest(report->data() + from, std::min(block, report->capacity() - from));
        std::size_t whole = rest.rfind('\n');
        std::size_t size = whole == std::string_view::npos ? rest.size() : whole + 1;
        read(report->view(from, size));
        from += size;
    }
}

// The scanner alone over the report in memory, block by block as the reader
// hands it out, with no reading at all: the converting thread's own share.
void scan_in_memory(benchmark::State& state) {
    const hittab::Kernel& kernel = hittab::best_kernel();
    for (auto _ : state) {
        hittab::TableWriter table = null_table();
        hittab::HitRecord record;
        std::uint64_t line_number = 1;
        for_each_block([&](hittab::PaddedView lines) {
            line_number = hittab::scan_lines(lines, line_number, record, table, kernel);
        });
        hittab::close_table(table);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(report->capacity()));
}

// hsptab's layout reader alone over the report in memory, in runs of a
// block as its reader hands them out, standard fields to /dev/null.
void read_hsps_in_memory(benchmark::State& state) {
    for (auto _ : state) {
        hittab::RowOutput output(hittab::FileHandle(std::fopen("/dev/null", "w")), "/dev/null");
        hittab::hsptab::FieldWriter writer(hittab::hsptab::parse_fields("std"), output, false, false);
        hittab::hsptab::LayoutReader layout("report", writer, hittab::best_kernel());
        std::uint64_t line_number = 0;
        for_each_block([&](hittab::PaddedView lines) { layout.read_lines(lines, line_number); });
        layout.finish(line_number);
        output.flush();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(report->capacity()));
}

// One typical line of each kind, read over and over (rows go to /dev/null).
void scan_one_line(benchmark::State& state, std::string line) {
    hittab::PaddedBuffer text = hittab::PaddedBuffer::copy_of(line);
    hittab::TableWriter table = null_table();
    hittab::HitRecord record;
    for (auto _ : state) hittab::scan_line(text.whole(), 1, record, table, hittab::best_kernel());
}
BENCHMARK_CAPTURE(scan_one_line, title, std::string(">DRR001369.139710 GEKBKKN08JJ5PQ length=777\n"));
BENCHMARK_CAPTURE(scan_one_line, score, std::string(" Score = 1376 bits (745),  Expect = 0.0\n"));
BENCHMARK_CAPTURE(scan_one_line, identities, std::string(" Identities = 745/745 (100%), Gaps = 0/745 (0%)\n"));
BENCHMARK_CAPTURE(scan_one_line, strand, std::string(" Strand=Plus/Plus\n"));

BENCHMARK(count_line_ends)->Unit(benchmark::kMillisecond);
BENCHMARK(convert_whole_report)->Unit(benchmark::kMillisecond);
BENCHMARK(scan_in_memory)->Unit(benchmark::kMillisecond);
BENCHMARK(read_hsps_in_memory)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scan_benchmark REPORT [benchmark flags]\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    report = std::make_unique<hittab::PaddedBuffer>(hittab::PaddedBuffer::copy_of(text));
    for (const hittab::KernelAvailability& available : hittab::every_kernel()) {
        if (available.kernel == nullptr) continue;
        benchmark::RegisterBenchmark((std::string("find_lines/") + available.name).c_str(), find_lines,
                                     available.kernel)
            ->Arg(128 << 10)
            ->Arg(1 << 30);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
