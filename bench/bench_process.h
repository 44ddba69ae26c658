// Running another program from a benchmark, and what it cost.
#pragma once

#include "bench_files.h"

#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

struct usage {
    double wall;
    double cpu; // user + system, seconds
};

inline double cpu_seconds(const rusage& used) {
    return used.ru_utime.tv_sec + used.ru_utime.tv_usec * 1e-6 + used.ru_stime.tv_sec +
           used.ru_stime.tv_usec * 1e-6;
}

// Starts `args` with its output discarded; its process id, or -1.
inline pid_t start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Runs `args` to its end; false when it cannot run or fails.
inline bool run(const std::vector<std::string>& args, usage& out) {
    const auto began = clock_type::now();
    const pid_t pid = start(args);
    int status = 0;
    rusage used{};
    if (pid < 0 || wait4(pid, &status, 0, &used) != pid)
        return false;
    out.wall = seconds_since(began);
    out.cpu = cpu_seconds(used);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace bench
