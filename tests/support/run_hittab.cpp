#include "run_hittab.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace hittab::tests {

namespace {

std::string read_all(int fd) {
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return bytes;
}

}  // namespace

Finished run_hittab(const ScratchDir& dir, const std::vector<std::string>& args, Limits limits) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("no pipe");
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(127);
        close(out[0]);
        close(err[0]);
        if (dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(127);
        rlimit file_size{limits.file_size, limits.file_size};
        rlimit address_space{limits.address_space, limits.address_space};
        if (setrlimit(RLIMIT_FSIZE, &file_size) != 0 || setrlimit(RLIMIT_AS, &address_space) != 0) _exit(127);
        alarm(60);
        std::vector<char*> argv;
#ifdef HITTAB_EMULATOR
        // Cross built: this process is emulated and cannot exec a binary of
        // the target directly, so the emulator runs it, as ctest runs the tests.
        for (const char* word : {HITTAB_EMULATOR}) argv.push_back(const_cast<char*>(word));
#endif
        argv.push_back(const_cast<char*>(HITTAB_BINARY));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());  // the emulator may be named without a directory
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Finished run;
    run.err = read_all(err[0]);
    run.out = read_all(out[0]);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return run;
}

}  // namespace hittab::tests
