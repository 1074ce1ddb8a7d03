// Runs the built tools as a user would, in a scratch directory.
#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

#include "scratch_dir.hpp"

namespace hittab::tests {

struct Finished {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out, err;
};

struct Limits {
    rlim_t file_size = RLIM_INFINITY;      // what it may write to files (not to the pipes)
    rlim_t address_space = RLIM_INFINITY;  // all the memory it may map
    std::string input;                     // a file in the directory for standard input, if any
};

// Runs hittab with `args` in `dir`, its standard output and error caught in
// pipes. A run that takes more than a minute is killed, so a hang fails a
// test instead of stalling the suite.
Finished run_hittab(const ScratchDir& dir, const std::vector<std::string>& args, Limits limits = {});

// The same for any program built here (hsptab's tests run hsptab).
Finished run_program(const char* binary, const ScratchDir& dir, const std::vector<std::string>& args,
                     Limits limits = {});

// The same for any program: `built_here` ones go through the emulator of a cross build.
Finished run_process(const char* binary, bool built_here, const ScratchDir& dir, const std::vector<std::string>& args,
                     Limits limits);

// Runs `command` with the system's shell, and how a shell command names a
// program built here (behind the emulator of a cross build).
Finished run_shell(const ScratchDir& dir, const std::string& command);
std::string command_line_for(const char* binary);

}  // namespace hittab::tests
