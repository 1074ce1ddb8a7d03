#include "memory_streams.hpp"

#include <sys/mman.h>
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
    // A file in memory with a descriptor of its own, as the reader reads descriptors.
    int descriptor = memfd_create("report", MFD_CLOEXEC);
    if (descriptor < 0) throw std::runtime_error("no stream for the report");
    for (std::size_t written = 0; written < text.size();) {
        ssize_t count = write(descriptor, text.data() + written, text.size() - written);
        if (count <= 0) {
            close(descriptor);
            throw std::runtime_error("cannot fill the stream for the report");
        }
        written += static_cast<std::size_t>(count);
    }
    FileHandle stream(fdopen(descriptor, "rb"));
    if (stream == nullptr || lseek(descriptor, 0, SEEK_SET) != 0) {
        if (stream == nullptr) close(descriptor);
        throw std::runtime_error("no stream for the report");
    }
    return stream;
}

}  // namespace hittab::tests
