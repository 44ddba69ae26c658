#include "run_program.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

extern char** environ;

namespace cli_test {

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// argv and environment as the char* arrays exec wants; built before fork.
struct exec_args {
    std::vector<std::string> strings;
    std::vector<char*> argv;
    std::vector<char*> envp;

    exec_args(const std::vector<std::string>& args, const std::vector<std::string>& env)
        : strings(env) {
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        for (char** e = environ; *e; ++e)
            envp.push_back(*e);
        for (std::string& e : strings)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

[[noreturn]] void exec_child(exec_args& args) {
    execve(args.argv[0], args.argv.data(), args.envp.data());
    _exit(127);
}

int exit_status(int wait_status) {
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    return 128 + WTERMSIG(wait_status);
}

// Appends what `fd` has to `into`; returns what read() returned.
ssize_t read_some(int fd, std::string& into) {
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0)
        into.append(buffer, static_cast<size_t>(n));
    return n;
}

// Kills the child when the deadline has passed; returns true then.
bool kill_when_late(pid_t pid, clock_type::time_point start, double timeout) {
    if (seconds_since(start) < timeout)
        return false;
    kill(pid, SIGKILL);
    return true;
}

} // namespace

run_result run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       double timeout) {
    exec_args args(argv, env);
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");
    auto start = clock_type::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        exec_child(args);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    run_result result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_pipes = 2;
    while (open_pipes > 0 && !kill_when_late(pid, start, timeout)) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i)
            if (fds[i].revents && read_some(fds[i].fd, *sinks[i]) <= 0) {
                fds[i].fd = -1;
                --open_pipes;
            }
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    result.seconds = seconds_since(start);
    result.max_rss_kb = usage.ru_maxrss;
    result.status = exit_status(status);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
}

terminal_result run_on_terminal(const std::vector<std::string>& argv,
                                const std::vector<timed_key>& keys, double timeout) {
    const auto start = clock_type::now();
    size_t next_key = 0;
    return run_on_terminal(
        argv,
        [&](const std::string&) {
            std::string due;
            while (next_key < keys.size() && seconds_since(start) >= keys[next_key].first)
                due += keys[next_key++].second;
            return due;
        },
        timeout);
}

terminal_result run_on_terminal(const std::vector<std::string>& argv, const terminal_act& act,
                                double timeout) {
    exec_args args(argv, {});
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    auto start = clock_type::now();
    pid_t pid = fork();
    if (pid == 0) {
        close(master);
        login_tty(slave);
        exec_child(args);
    }
    // The slave stays open here so its settings can be read after the end.
    fcntl(master, F_SETFL, O_NONBLOCK);
    terminal_result result;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (kill_when_late(pid, start, timeout))
            continue;
        const std::string keys = act(result.out);
        if (!keys.empty())
            (void)!write(master, keys.data(), keys.size());
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 10) > 0)
            read_some(master, result.out);
    }
    result.seconds = seconds_since(start);
    result.status = exit_status(status);
    while (read_some(master, result.out) > 0) {
    }
    termios mode{};
    result.terminal_restored =
        tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ICANON) && (mode.c_lflag & ECHO);
    close(master);
    close(slave);
    return result;
}

std::vector<std::string> sonvale_command(std::vector<std::string> args) {
    args.insert(args.begin(), SONVALE_CLI_PATH);
    return args;
}

} // namespace cli_test
