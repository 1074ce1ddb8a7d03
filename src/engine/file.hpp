// Streams owned by scope-bound holders: a stream is closed on every way out
// of the scope that holds it, and can be closed explicitly only once.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace hittab {

struct FileCloser {
    void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for reading bytes; a refusal is an I/O failure ("open report").
FileHandle open_for_reading(const std::string& path);

// Creates `path` as a new file for writing text, never opening or following
// anything already there: an existing entry (a dangling link included) is
// the precondition failure "already exists", any other refusal an I/O failure.
FileHandle create_exclusively(const std::string& path);

// Closes the stream; a refusal is an I/O failure ("<action> '<path>'").
void close_stream(FileHandle stream, const char* action, const std::string& path);

}  // namespace hittab
