// Converts an arbitrary byte string as a report through the real reader,
// line search, scanner and writer, with every kernel that runs here and a
// block size taken from the input, so that lines, CR LF pairs and long lines
// straddle block boundaries. Each result must equal the independent
// reference converter's, table bytes and failure alike, and so must the
// report's read in stretches of that size on two threads, and the same
// report's in a compressed form the input chooses. Input that is itself compressed
// (usually damaged) must decode and convert, or fail, without a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "conversion.hpp"
#include "kernel.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Two bytes choose the block: 1 to 4096 bytes.
    std::size_t block_size = 1 + ((std::size_t{data[0]} << 8 | data[1]) % 4096);
    std::string_view report(reinterpret_cast<const char*>(data + 2), size - 2);
    if (hittab::tests::is_packed(report)) {
        // Compressed bytes, most of them damaged: they decode and convert or
        // fail, never crash.
        hittab::tests::convert_as_given(report, block_size);
        return 0;
    }
    hittab::tests::Outcome reference = hittab::tests::convert_by_reference(report);
    for (const hittab::KernelAvailability& available : hittab::every_kernel()) {
        if (available.kernel == nullptr) continue;
        hittab::tests::Outcome tool = hittab::tests::convert_as_given(report, block_size, *available.kernel);
        if (!(tool == reference)) {
            std::fprintf(stderr, "tool and reference differ (kernel %s, block size %zu)\n", available.name, block_size);
            std::abort();
        }
    }
    // Read in stretches of the block size, on two threads, the same.
    if (!(hittab::tests::convert_in_stretches(report, block_size) == reference)) {
        std::fprintf(stderr, "read in stretches, the report converts otherwise (stretch size %zu)\n", block_size);
        std::abort();
    }
    // One compressed form of the report, chosen by the input, converts the same.
    std::vector<hittab::tests::PackedForm> forms = hittab::tests::packed_forms(block_size);
    const hittab::tests::PackedForm& form = forms[data[0] % forms.size()];
    if (!(hittab::tests::convert_as_given(hittab::tests::pack(report, form), block_size) == reference)) {
        std::fprintf(stderr, "packed as %s, the report converts otherwise (block size %zu)\n", form.name, block_size);
        std::abort();
    }
    return 0;
}
