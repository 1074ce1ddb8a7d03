#include "file.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "failure.hpp"

namespace hittab {

void require_report_entry(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) return;
    // A dangling link, or nothing at all.
    if (errno == ENOENT) throw report_missing(path);
    throw report_unreachable(path, errno);
}

void require_no_table_entry(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0) throw table_exists(path);
    if (errno != ENOENT) throw io_failure("create table", path, errno);
}

FileHandle open_for_reading(const std::string& path) {
    errno = 0;
    // Binary mode: line ends are normalised by the reader, the same on every platform.
    FileHandle stream(std::fopen(path.c_str(), "rb"));
    if (stream == nullptr) throw io_failure("open report", path, errno);
    return stream;
}

FileHandle create_exclusively(const std::string& path) {
    errno = 0;
    // "x" creates exclusively: a file or link that appeared at this path
    // since any earlier check is neither followed nor truncated.
    FileHandle stream(std::fopen(path.c_str(), "wx"));
    if (stream == nullptr) {
        if (errno == EEXIST) throw table_exists(path);
        throw io_failure("create table", path, errno);
    }
    return stream;
}

void close_stream(FileHandle stream, const char* action, const std::string& path) {
    errno = 0;
    if (std::fclose(stream.release()) != 0) throw io_failure(action, path, errno);
}

}  // namespace hittab
