#pragma once
// Runs a program of the build to its end and keeps what it printed and its exit
// status, for end-to-end tests of morvane-cli.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace morvane::test {

struct ProgramRun {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
    bool killed = false; // it outlived RunLimits::watchdogSeconds
};

// What the program runs under, for tests of the unlucky cases.
struct RunLimits {
    // A program still running after this many seconds is killed, so that a hang fails
    // its test instead of stalling the suite; 0 waits for ever.
    int watchdogSeconds = 0;
    // Largest file the program may write (RLIMIT_FSIZE), with SIGXFSZ ignored so a
    // write past it fails as on a full disk; negative for no limit.
    long long fileSizeLimit = -1;
    // Leave SIGXFSZ as the program finds it, as a shell's ulimit -f does.
    bool keepFileSizeSignal = false;
    // Standard output goes to this file (such as /dev/full) rather than to out.
    std::string stdoutFile;
};

// In a child after fork: becomes program with args, or exits 127.
[[noreturn]] inline void execProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

inline ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                             const RunLimits& limits = {}) {
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = limits.stdoutFile.empty() ? outPipe[1] : ::open(limits.stdoutFile.c_str(), O_WRONLY);
        ::dup2(out, 1);
        ::dup2(errPipe[1], 2);
        if (limits.fileSizeLimit >= 0) {
            if (!limits.keepFileSizeSignal)
                ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{static_cast<rlim_t>(limits.fileSizeLimit), static_cast<rlim_t>(limits.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        execProgram(program, args);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ProgramRun run;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.watchdogSeconds);
    while (open > 0) {
        int wait = -1;
        if (limits.watchdogSeconds > 0 && !run.killed) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(pid, SIGKILL);
                run.killed = true;
            } else {
                wait = static_cast<int>(left.count());
            }
        }
        fds[0].revents = fds[1].revents = 0;
        if (::poll(fds, 2, wait) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A fresh temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace morvane::test
