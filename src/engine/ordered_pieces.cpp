#include "ordered_pieces.hpp"

#include <sched.h>

#include <algorithm>

namespace hittab {

unsigned processors_available() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}

unsigned threads_for(std::uint64_t pieces, unsigned asked) {
    std::uint64_t threads = std::min(asked != 0 ? asked : processors_available(), most_threads);
    return static_cast<unsigned>(std::max<std::uint64_t>(1, std::min(threads, pieces)));
}

}  // namespace hittab
