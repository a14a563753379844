// posix_spawn (a vfork-like clone, cheap even for a large starter) with the program named by its
// descriptor, "/proc/self/fd/N": the kernel executes the open file itself, as fexecve does, so the
// path the file was opened by no longer matters. posix_spawn returns only after the child has
// executed the program or failed to, and then with the exec's error (it reports it through a
// close-on-exec channel of its own).
#include "starter/process_start.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char **environ;

namespace zolm::starter {
namespace {

pid_t Start(const std::string &program, const ProcessRequest &request) {
    std::vector<char *> argv;
    for (const std::string &a : request.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (int rc = posix_spawn_file_actions_init(&actions); rc != 0) {
        errno = rc;
        return -1;
    }
    if (int rc = posix_spawnattr_init(&attributes); rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        errno = rc;
        return -1;
    }
    int rc = 0;
    if (!request.currentDirectory.empty())
        rc = posix_spawn_file_actions_addchdir_np(&actions, request.currentDirectory.c_str());
    if (rc == 0 && request.detached) {
        rc = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (rc == 0) rc = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    pid_t pid = -1;
    if (rc == 0) rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

}  // namespace

pid_t StartFromDescriptor(int fd, const ProcessRequest &request) {
    return Start("/proc/self/fd/" + std::to_string(fd), request);
}

pid_t StartFromPath(const std::string &path, const ProcessRequest &request) { return Start(path, request); }

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
