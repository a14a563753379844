// A child program under test: started with extra environment, its standard error read line by line,
// its end awaited with a time limit. Kills and reaps the child if the test leaves early.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zolm::testing {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    ChildProcess(const std::vector<std::string> &argv, const std::vector<std::pair<std::string, std::string>> &env) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
            dup2(fds[1], 2);
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 1);
            std::vector<char *> args;
            for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        fd_ = fds[0];
        started_ = Clock::now();
    }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    ~ChildProcess() {
        if (!status_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (fd_ >= 0) close(fd_);
    }

    pid_t Pid() const { return pid_; }

    // Waits for the next line containing text (lines before it are kept in Output()).
    bool WaitForLine(const std::string &text, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            while (next_ < lines_.size()) {
                if (lines_[next_++].find(text) != std::string::npos) return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !ReadSome(left)) return false;
        }
    }

    // Exit status once the child ended within the limit (stderr is drained meanwhile).
    std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!status_) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = status;
                ended_ = Clock::now();
                break;
            }
            if (Clock::now() >= deadline) return std::nullopt;
            ReadSome(std::chrono::milliseconds(50));
        }
        while (ReadSome(std::chrono::milliseconds(0))) {
        }
        return status_;
    }

    Clock::time_point Ended() const { return ended_; }
    std::string Output() const {
        std::string all;
        for (const auto &line : lines_) all += line + "\n";
        return all + partial_;
    }

private:
    // Reads what is available within the limit; false at end of file or on time-out.
    bool ReadSome(std::chrono::milliseconds limit) {
        if (fd_ < 0) {
            if (limit.count() > 0) usleep(static_cast<useconds_t>(limit.count()) * 1000);
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
        char buffer[4096];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            close(fd_);
            fd_ = -1;
            return false;
        }
        partial_.append(buffer, static_cast<size_t>(n));
        size_t eol;
        while ((eol = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, eol));
            partial_.erase(0, eol + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::vector<std::string> lines_;
    size_t next_ = 0;
    std::string partial_;
    std::optional<int> status_;
    Clock::time_point started_;
    Clock::time_point ended_;
};

}  // namespace zolm::testing
