// fork, then fexecve or execv in the child; a close-on-exec pipe tells the parent whether the exec
// happened. The child uses only async-signal-safe calls: the starter has other threads.
#include "starter/process_start.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/named_objects.h"

extern char **environ;

namespace zolm::starter {
namespace {

using zolm::platform::UniqueFd;

// In the child: report the error through the pipe and end without running any handlers.
[[noreturn]] void ChildFails(int report, int error) {
    ssize_t ignored = ::write(report, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

pid_t Start(int fd, const char *path, const ProcessRequest &request) {
    std::vector<char *> argv;
    for (const std::string &a : request.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const char *folder = request.currentDirectory.empty() ? nullptr : request.currentDirectory.c_str();

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int report = writeEnd.Get();
        if (folder != nullptr && ::chdir(folder) != 0) ChildFails(report, errno);
        if (request.detached) {
            ::setsid();
            int null = ::open("/dev/null", O_RDONLY);
            if (null < 0 || ::dup2(null, STDIN_FILENO) < 0) ChildFails(report, errno);
            if (null != STDIN_FILENO) ::close(null);
        }
        if (path != nullptr)
            ::execve(path, argv.data(), environ);
        else
            ::fexecve(fd, argv.data(), environ);
        ChildFails(report, errno);
    }
    writeEnd.Reset();
    int error = 0;
    ssize_t got;
    do {
        got = ::read(readEnd.Get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return pid;  // the pipe closed on exec: the program runs
    // The exec failed: collect the child so no zombie stays behind.
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    errno = got == static_cast<ssize_t>(sizeof error) && error != 0 ? error : EIO;
    return -1;
}

}  // namespace

pid_t StartFromDescriptor(int fd, const ProcessRequest &request) { return Start(fd, nullptr, request); }

pid_t StartFromPath(const std::string &path, const ProcessRequest &request) { return Start(-1, path.c_str(), request); }

int WaitForExit(pid_t pid) {
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace zolm::starter
