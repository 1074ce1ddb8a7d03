#include "run_hittab.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace hittab::tests {

namespace {

// Reads both pipes to their ends together, so that a child filling one of
// them never waits on a reader busy with the other.
void read_both(int out, int err, std::string& out_bytes, std::string& err_bytes) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* into[2] = {&out_bytes, &err_bytes};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

Finished run_hittab(const ScratchDir& dir, const std::vector<std::string>& args, Limits limits) {
    return run_program(HITTAB_BINARY, dir, args, limits);
}

std::string command_line_for(const char* binary) {
    std::string line;
#ifdef HITTAB_EMULATOR
    for (const char* word : {HITTAB_EMULATOR}) line += std::string(word) + " ";
#endif
    return line + binary;
}

Finished run_shell(const ScratchDir& dir, const std::string& command) {
    return run_process("/bin/sh", false, dir, {"-c", command}, Limits{});
}

Finished run_program(const char* binary, const ScratchDir& dir, const std::vector<std::string>& args, Limits limits) {
    return run_process(binary, true, dir, args, limits);
}

Finished run_process(const char* binary, bool built_here, const ScratchDir& dir, const std::vector<std::string>& args,
                     Limits limits) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("no pipe");
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(127);
        close(out[0]);
        close(err[0]);
        if (dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(127);
        if (!limits.input.empty()) {
            int input = open(limits.input.c_str(), O_RDONLY);
            if (input < 0 || dup2(input, 0) < 0) _exit(127);
        }
        rlimit file_size{limits.file_size, limits.file_size};
        rlimit address_space{limits.address_space, limits.address_space};
        if (setrlimit(RLIMIT_FSIZE, &file_size) != 0 || setrlimit(RLIMIT_AS, &address_space) != 0) _exit(127);
        alarm(60);
        std::vector<char*> argv;
#ifdef HITTAB_EMULATOR
        // Cross built: this process is emulated and cannot exec a binary of
        // the target directly, so the emulator runs it, as ctest runs the tests.
        if (built_here) {
            for (const char* word : {HITTAB_EMULATOR}) argv.push_back(const_cast<char*>(word));
        }
#else
        (void)built_here;
#endif
        argv.push_back(const_cast<char*>(binary));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());  // the emulator may be named without a directory
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Finished run;
    read_both(out[0], err[0], run.out, run.err);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return run;
}

}  // namespace hittab::tests
