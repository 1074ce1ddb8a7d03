// Tests that run once per kernel: every kernel the project has is a
// parameter, and those this build or processor cannot run are skipped with
// the reason, so a run says plainly what it did not check.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel.hpp"

namespace hittab::tests {

// "portable", "avx2", "neon": every kernel, runnable here or not.
std::vector<std::string> kernel_names();

// The kernel called `name`, or null with `why_not` saying why it cannot run here.
const Kernel* kernel_named(const std::string& name, std::string& why_not);

// A fixture for tests parameterised by `Param`, whose kernel name `name_of`
// picks out; the test is skipped, visibly, when that kernel cannot run here.
template <typename Param, std::string (*name_of)(const Param&)>
class PerKernel : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        std::string name = name_of(this->GetParam()), why_not;
        kernel_ = kernel_named(name, why_not);
        if (kernel_ == nullptr) GTEST_SKIP() << "kernel " << name << " skipped: " << why_not;
    }
    const Kernel& kernel() const { return *kernel_; }

private:
    const Kernel* kernel_ = nullptr;
};

inline std::string name_itself(const std::string& name) { return name; }
using EachKernel = PerKernel<std::string, name_itself>;

}  // namespace hittab::tests
