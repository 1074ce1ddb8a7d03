#include "memory_streams.hpp"

#include <unistd.h>

#include <stdexcept>

namespace hittab::tests {

MemoryTable::MemoryTable() : stream_(std::tmpfile()), descriptor_(stream_ != nullptr ? dup(fileno(stream_)) : -1) {
    if (stream_ == nullptr || descriptor_ < 0) throw std::runtime_error("no stream for the table");
}

MemoryTable::~MemoryTable() {
    if (stream_ != nullptr) std::fclose(stream_);
    close(descriptor_);
}

FileHandle MemoryTable::stream() {
    std::FILE* handed = stream_;
    stream_ = nullptr;
    return FileHandle(handed);
}

std::string MemoryTable::text() const {
    std::string bytes;
    char chunk[65536];
    off_t offset = 0;
    for (ssize_t got; (got = pread(descriptor_, chunk, sizeof chunk, offset)) > 0; offset += got) {
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

FileHandle stream_holding(std::string_view text) {
    FileHandle stream(text.empty() ? std::tmpfile() : fmemopen(const_cast<char*>(text.data()), text.size(), "r"));
    if (stream == nullptr) throw std::runtime_error("no stream for the report");
    return stream;
}

}  // namespace hittab::tests
