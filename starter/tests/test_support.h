// Test helpers: private temporary folders, files, and child processes run (optionally as nobody).
#pragma once

#include <string>
#include <vector>

namespace zolm::starter::testing {

// A folder under /tmp removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string &path, const std::string &content);
std::string ReadFile(const std::string &path);


struct RunResult {
    int exitCode = -1;  // 128 + signal when killed
    std::string out;    // standard output and error
};

// A started child process whose standard output and error come through a pipe.
struct Child {
    int pid = -1;
    int out = -1;
};

// Starts argv with exactly the given environment, optionally as the user nobody (through setpriv).
Child Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, bool asNobody = false);

// Reads one line of the child's output (without its line end); empty at the end of output.
std::string ReadLine(Child &child);

// Collects the rest of the child's output and its exit code, waiting at most timeoutSeconds (then
// the child is killed and exitCode is -1).
RunResult Wait(Child &child, int timeoutSeconds = 60);

// Runs argv with exactly the given environment, optionally as the user nobody (through setpriv),
// waiting at most timeoutSeconds (then the child is killed and exitCode is -1).
RunResult RunProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env, bool asNobody = false,
              int timeoutSeconds = 60);

// True when tests can switch to another user (they run as root).
bool CanRunAsNobody();
constexpr unsigned kNobody = 65534;

}  // namespace zolm::starter::testing
