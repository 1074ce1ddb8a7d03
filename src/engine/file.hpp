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

// The precondition on a report's path: something is there, links followed.
// Nothing there is "does not exist"; a path that cannot be examined
// (permission, a file where a folder is named) says why.
void require_report_entry(const std::string& path);

// The precondition on a table's path: nothing is there, not even a dangling
// link ("already exists"); a path that cannot be examined is an I/O failure
// ("create table").
void require_no_table_entry(const std::string& path);

// Opens `path` for reading bytes; a refusal is an I/O failure ("open report").
FileHandle open_for_reading(const std::string& path);

// Creates `path` as a new file for writing text, never opening or following
// anything already there: an existing entry (a dangling link included) is
// the precondition failure "already exists", any other refusal an I/O failure.
FileHandle create_exclusively(const std::string& path);

// Closes the stream; a refusal is an I/O failure ("<action> '<path>'").
void close_stream(FileHandle stream, const char* action, const std::string& path);

}  // namespace hittab
