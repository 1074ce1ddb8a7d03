#include "kernels.hpp"

namespace hittab::tests {

std::vector<std::string> kernel_names() {
    std::vector<std::string> names;
    for (const KernelAvailability& available : every_kernel()) names.push_back(available.name);
    return names;
}

const Kernel* kernel_named(const std::string& name, std::string& why_not) {
    for (const KernelAvailability& available : every_kernel()) {
        if (name != available.name) continue;
        why_not = available.why_not;
        return available.kernel;
    }
    why_not = "no such kernel";
    return nullptr;
}

}  // namespace hittab::tests
