#include "kernel.hpp"

#include "instruction_sets.hpp"

namespace hittab {

extern const Kernel portable_kernel;
#if HITTAB_BUILD_AVX2
extern const Kernel avx2_kernel;
extern const Kernel avx512_kernel;
#endif
#if HITTAB_BUILD_NEON
extern const Kernel neon_kernel;
#endif

namespace {

#if HITTAB_BUILD_AVX2
bool processor_has_avx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"); }
bool processor_has_avx512() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("popcnt");
}
#endif

}  // namespace

std::vector<KernelAvailability> every_kernel() {
    std::vector<KernelAvailability> kernels = {{"portable", &portable_kernel, ""}};
#if HITTAB_BUILD_AVX2
    if (processor_has_avx2()) {
        kernels.push_back({"avx2", &avx2_kernel, ""});
    } else {
        kernels.push_back({"avx2", nullptr, "this processor has no AVX2"});
    }
    if (processor_has_avx512()) {
        kernels.push_back({"avx512", &avx512_kernel, ""});
    } else {
        kernels.push_back({"avx512", nullptr, "this processor has no AVX-512 (BW)"});
    }
#elif defined(HITTAB_PORTABLE)
    kernels.push_back({"avx2", nullptr, "this is a portable build"});
    kernels.push_back({"avx512", nullptr, "this is a portable build"});
#else
    kernels.push_back({"avx2", nullptr, "not built for this processor"});
    kernels.push_back({"avx512", nullptr, "not built for this processor"});
#endif
#if HITTAB_BUILD_NEON
    kernels.push_back({"neon", &neon_kernel, ""});  // every aarch64 processor has NEON
#elif defined(HITTAB_PORTABLE)
    kernels.push_back({"neon", nullptr, "this is a portable build"});
#else
    kernels.push_back({"neon", nullptr, "not built for this processor"});
#endif
    return kernels;
}

const Kernel& best_kernel() {
    static const Kernel& chosen = []() -> const Kernel& {
        const Kernel* best = &portable_kernel;
        for (const KernelAvailability& available : every_kernel()) {
            if (available.kernel != nullptr) best = available.kernel;
        }
        return *best;
    }();
    return chosen;
}

}  // namespace hittab
