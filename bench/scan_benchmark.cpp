// In-memory throughput of the parts of a conversion, on a generated report
// (bench/generate_report): the line search alone, portable and AVX2, and the
// whole scan with rows written to /dev/null; counting line ends with memchr
// is the yardstick. usage: scan_benchmark REPORT [benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "hit_record.hpp"
#include "byte_search.hpp"
#include "scanner.hpp"
#include "table_writer.hpp"

namespace {

std::string report;  // padded on both sides, as the reader's buffer is
const char* text_begin;
const char* text_end;

void count_line_ends(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t count = 0;
        for (const char* p = text_begin; (p = static_cast<const char*>(std::memchr(p, '\n', text_end - p))); ++p) ++count;
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (text_end - text_begin));
}

// The search over the first `state.range(0)` bytes, again and again: small
// sizes stay in cache, as a block just read does.
template <std::size_t (*find)(const char*&, const char*, std::uint64_t&, hittab::CandidateLine*, std::size_t)>
void find_lines(benchmark::State& state) {
    hittab::CandidateLine lines[64];
    const char* end = text_begin + std::min<std::ptrdiff_t>(state.range(0), text_end - text_begin);
    for (auto _ : state) {
        std::uint64_t line_number = 1;
        std::size_t found = 0;
        for (const char* p = text_begin; p != end;) found += find(p, end, line_number, lines, 64);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (end - text_begin));
}

void scan_whole_report(benchmark::State& state) {
    for (auto _ : state) {
        hittab::TableWriter table(std::fopen("/dev/null", "w"), "/dev/null");
        hittab::HitRecord record;
        hittab::scan_lines(std::string_view(text_begin, text_end - text_begin), 1, record, table);
        hittab::dump(record, table);
        hittab::close_table(table);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (text_end - text_begin));
}

// One typical line of each kind, read over and over (rows go to /dev/null).
void scan_one_line(benchmark::State& state, std::string line) {
    line += std::string(64, '\0');  // the padding a report buffer has
    std::string_view text(line.data(), line.size() - 64);
    hittab::TableWriter table(std::fopen("/dev/null", "w"), "/dev/null");
    hittab::HitRecord record;
    for (auto _ : state) hittab::scan_line(text, 1, record, table);
}
BENCHMARK_CAPTURE(scan_one_line, title, std::string(">DRR001369.139710 GEKBKKN08JJ5PQ length=777\n"));
BENCHMARK_CAPTURE(scan_one_line, score, std::string(" Score = 1376 bits (745),  Expect = 0.0\n"));
BENCHMARK_CAPTURE(scan_one_line, identities, std::string(" Identities = 745/745 (100%), Gaps = 0/745 (0%)\n"));
BENCHMARK_CAPTURE(scan_one_line, strand, std::string(" Strand=Plus/Plus\n"));

BENCHMARK(count_line_ends)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(find_lines, hittab::find_candidate_lines_portable)->Arg(128 << 10)->Arg(1 << 30);
BENCHMARK_TEMPLATE(find_lines, hittab::find_candidate_lines_avx2)->Arg(128 << 10)->Arg(1 << 30);
BENCHMARK(scan_whole_report)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scan_benchmark REPORT [benchmark flags]\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    report = std::string(hittab::text_padding, '\n') + text + std::string(hittab::text_padding, '\0');
    text_begin = report.data() + hittab::text_padding;
    text_end = text_begin + text.size();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
