// Where the genuine reports of other layouts are kept, beside the
// repository, and the skip for a checkout without them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace hittab::tests {

inline const std::filesystem::path shared_reports = HITTAB_SHARED_REPORTS;

#define REQUIRE_SHARED_REPORTS()                                         \
    if (!std::filesystem::is_directory(::hittab::tests::shared_reports)) \
    GTEST_SKIP() << "no shared reports at " << ::hittab::tests::shared_reports.string()

}  // namespace hittab::tests
