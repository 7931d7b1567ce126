#pragma once
// morvane-server (or morvane-cli) run by a test on a free loopback port: started, asked
// over HTTP, stopped with a signal or killed outright, its stderr kept for the test.

#include "support/Process.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace morvane::test {

class ServerProcess {
public:
    // Starts program with args and, for the server, waits for it to say where it
    // listens. Stdout goes to /dev/null.
    ServerProcess(const std::string& program, const std::vector<std::string>& args, bool server = true) {
        int errPipe[2];
        if (::pipe2(errPipe, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // A test that dies takes its server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(errPipe[1], 2);
            execProgram(program, args);
        }
        ::close(errPipe[1]);
        reader_ = std::thread([this, fd = errPipe[0]] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
                std::lock_guard lock(mutex_);
                err_.append(buffer, static_cast<size_t>(n));
                changed_.notify_all();
            }
            ::close(fd);
            std::lock_guard lock(mutex_);
            closed_ = true;
            changed_.notify_all();
        });
        // The whole line: a read may end in the middle of the port.
        // A port that cannot be read leaves 0, and the test fails on its requests: a
        // throw here would leave the reader running and end the whole test program.
        if (server && waitForLog(" runners)\n")) {
            std::lock_guard lock(mutex_);
            const std::string mark = "listening on http://127.0.0.1:";
            const size_t at = err_.find(mark);
            if (at != std::string::npos)
                port_ = std::atoi(err_.c_str() + at + mark.size());
        }
    }
    ~ServerProcess() {
        if (running())
            kill(SIGKILL);
        wait();
        // Whatever became of the program (a fork that failed included), the thread that
        // reads its stderr must not outlive the object: a joinable thread destroyed
        // ends the test run.
        if (reader_.joinable())
            reader_.join();
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    bool running() const { return pid_ > 0 && status_ == Running; }
    void kill(int signal) const {
        if (pid_ > 0)
            ::kill(pid_, signal);
    }
    // The exit status; -1 for a signal. Waits at most a minute, then kills.
    int wait() {
        if (pid_ <= 0) {
            if (reader_.joinable())
                reader_.join();
            return status_;
        }
        if (status_ != Running)
            return status_;
        int status = 0;
        for (int i = 0; i < 600 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (reader_.joinable())
            reader_.join();
        return status_;
    }
    bool waitForLog(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return err_.find(text) != std::string::npos || closed_; }) &&
               err_.find(text) != std::string::npos;
    }
    std::string log() {
        std::lock_guard lock(mutex_);
        return err_;
    }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(30, 0);
        return c;
    }

private:
    static constexpr int Running = -2;
    pid_t pid_ = -1;
    int port_ = 0;
    int status_ = Running;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string err_;
    bool closed_ = false;
};

} // namespace morvane::test
