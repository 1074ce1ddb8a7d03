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

struct HspOutcome {
    std::string table;
    bool failed = false;
    std::string message;
    std::uint64_t line_number = 0;
};

HspOutcome convert_hsps(std::string_view report, const std::string& fields = "std", bool comments = false,
                        std::size_t block_size = default_block_size, const Kernel& kernel = best_kernel());

}  // namespace hittab::tests
