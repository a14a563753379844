// Process creation for the starter: programs are started from an open descriptor (the open file is
// executed, whatever its path now names), and the start returns once the new program runs, or
// reports why it could not (the counterpart of CreateProcess followed by WaitForInputIdle).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zolm::starter {

struct ProcessRequest {
    std::vector<std::string> argv;  // argv[0] is the program's path as the program sees it
    std::string currentDirectory;   // empty: the starter's own
    // "Hidden window, new console": a session of its own without a terminal, standard input from
    // /dev/null. Otherwise standard input, output and error are the starter's.
    bool detached = false;
};

// Starts the program behind fd with the starter's environment (the descriptor stays the caller's).
// Returns the child's id once the program has been executed, or -1 with errno set when the process
// could not be made, the folder could not be entered or the program could not be executed.
pid_t StartFromDescriptor(int fd, const ProcessRequest &request);

// The same, from a path (the direct start, without a signature check).
pid_t StartFromPath(const std::string &path, const ProcessRequest &request);

// Waits without time limit for the child to end: its exit code, 128 plus the signal's number when a
// signal ended it, -1 when the wait failed.
int WaitForExit(pid_t pid);

}  // namespace zolm::starter
