// How many threads the tests' conversions in stretches run on: 2, or the
// count in HITTAB_TEST_THREADS, with which the ctest entries threads_1/,
// threads_3/ and threads_8/ run the conversion suites again (8 on a
// machine of 2 processors still checks that handing on keeps report order).
#pragma once

#include <cstdlib>

namespace hittab::tests {

inline unsigned piece_threads() {
    static const unsigned threads = [] {
        const char* value = std::getenv("HITTAB_TEST_THREADS");
        int count = value != nullptr ? std::atoi(value) : 0;
        return count > 0 ? static_cast<unsigned>(count) : 2u;
    }();
    return threads;
}

}  // namespace hittab::tests
