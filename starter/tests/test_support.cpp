// Test helpers shared by the starter's suites.
#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zolm::starter::testing {

TempDir::TempDir() {
    char tmpl[] = "/tmp/zolm-starter-test-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool CanRunAsNobody() { return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0; }

Child Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, bool asNobody) {
    std::vector<std::string> full;
    if (asNobody)
        full = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNobody),
                "--clear-groups"};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char *> args, envp;
    for (auto &a : full) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

std::string ReadLine(Child &child) {
    std::string line;
    char c;
    while (read(child.out, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

RunResult Wait(Child &child, int timeoutSeconds) {
    RunResult result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool open = true;
    while (open) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{child.out, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        ssize_t got = read(child.out, buffer, sizeof buffer);
        if (got <= 0) open = false;
        else result.out.append(buffer, static_cast<size_t>(got));
    }
    close(child.out);
    child.out = -1;
    if (open) {  // timed out
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
        return result;
    }
    int status = 0;
    waitpid(child.pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

RunResult RunProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env, bool asNobody,
              int timeoutSeconds) {
    Child child = Spawn(argv, env, asNobody);
    return Wait(child, timeoutSeconds);
}

}  // namespace zolm::starter::testing
