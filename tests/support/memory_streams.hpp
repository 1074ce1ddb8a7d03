// Streams over bytes in memory, for conversions without files.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "file.hpp"

namespace hittab::tests {

// A table stream whose bytes can be read back after the writer closed it:
// an unnamed temporary file, kept open through a second descriptor.
class MemoryTable {
public:
    MemoryTable();
    ~MemoryTable();
    MemoryTable(const MemoryTable&) = delete;
    MemoryTable& operator=(const MemoryTable&) = delete;

    // The stream to hand to a writer, which then owns it (once).
    FileHandle stream();
    std::string text() const;

private:
    std::FILE* stream_;
    int descriptor_;
};

// A stream that reads a copy of `text`.
FileHandle stream_holding(std::string_view text);

}  // namespace hittab::tests
