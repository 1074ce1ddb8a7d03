// A temporary directory for tests that touch the file system, removed with
// everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace hittab::tests {

struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The path of `name` inside the directory.
    std::string operator/(std::string_view name) const;

    std::filesystem::path path;
};

void write_file(const std::string& path, std::string_view bytes);
std::string read_file(const std::string& path);

}  // namespace hittab::tests
