// Starting and stopping the private pcscd.
#include "zolm_pcsc/testing/test_pcscd.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#ifndef ZOLM_PCSCD_PROGRAM
#define ZOLM_PCSCD_PROGRAM "/usr/sbin/pcscd"
#endif
#ifndef ZOLM_VPCD_DRIVER
#define ZOLM_VPCD_DRIVER "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
#endif

namespace zolm::pcsc::testing {
namespace {

namespace fs = std::filesystem;

// The private folder: the socket, the reader configurations, and what pcscd sees as /run/pcscd.
// It is removed when the process ends.
const fs::path &PrivateFolder() {
    struct Folder {
        Folder() {
            char pattern[] = "/tmp/zolm-pcscd-XXXXXX";
            if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
            path = pattern;
            fs::create_directory(path / "run");
            fs::create_directory(path / "readers");
            fs::create_directory(path / "no-readers");
        }
        ~Folder() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
        fs::path path;
    };
    static const Folder folder;
    return folder.path;
}

bool PortIsFree(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bool free = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

// vpcd listens on the configured port for its first slot and on the next one for its second.
// Ports are drawn below the kernel's ephemeral range so that parallel tests rarely meet.
uint16_t ChooseVpcdPort() {
    std::random_device seed;
    std::mt19937 random(seed() ^ static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<int> range(20000, 31998);
    for (int attempt = 0; attempt < 200; ++attempt) {
        uint16_t port = static_cast<uint16_t>(range(random));
        if (PortIsFree(port) && PortIsFree(port + 1)) return port;
    }
    throw std::runtime_error("no free port pair for vpcd");
}

int ListenOn(const std::string &path) {
    ::unlink(path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(errno));
    }
    ::chmod(path.c_str(), 0666);
    return fd;
}

// Async-signal-safe helpers for the forked child.
void WriteFile(const char *path, const char *text) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    ssize_t ignored = ::write(fd, text, std::strlen(text));
    (void)ignored;
    ::close(fd);
}

void FormatDecimal(char *out, long value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n != 0) *out++ = digits[--n];
    *out = '\0';
}

// Gives the child a mount namespace where /run/pcscd is the private folder's "run" (or, where no
// /run/pcscd exists, /run an empty tmpfs). Without the privilege for either kind of namespace the
// daemon runs in the common one.
void IsolateRunFolder(const char *privateRun, const char *uidMap, const char *gidMap) {
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return;
        WriteFile("/proc/self/setgroups", "deny");
        WriteFile("/proc/self/uid_map", uidMap);
        WriteFile("/proc/self/gid_map", gidMap);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    if (::access("/run/pcscd", F_OK) == 0)
        ::mount(privateRun, "/run/pcscd", nullptr, MS_BIND, nullptr);
    else
        ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755");
}

}  // namespace

const std::string &TestPcscd::SocketPath() {
    static const std::string path = [] {
        std::string socket = (PrivateFolder() / "pcscd.comm").string();
        ::setenv("PCSCLITE_CSOCK_NAME", socket.c_str(), 1);
        return socket;
    }();
    return path;
}

void TestPcscd::Start(bool withVpcdReader) {
    Stop();
    const std::string &socketPath = SocketPath();
    fs::path configFolder = PrivateFolder() / (withVpcdReader ? "readers" : "no-readers");
    if (withVpcdReader) {
        port_ = ChooseVpcdPort();
        // DEVICENAME /dev/null:<port> makes the driver listen for the card on that port.
        std::ofstream config(configFolder / "vpcd", std::ios::trunc);
        config << "FRIENDLYNAME \"Virtual PCD\"\n"
               << "DEVICENAME /dev/null:" << port_ << "\n"
               << "LIBPATH " << ZOLM_VPCD_DRIVER << "\n"
               << "CHANNELID " << port_ << "\n";
        if (!config) throw std::runtime_error("cannot write the reader configuration");
    }

    // Everything the child needs is prepared here: after fork it makes only system calls.
    int listener = ListenOn(socketPath);
    std::string privateRun = (PrivateFolder() / "run").string();
    std::string config = configFolder.string();
    std::string uidMap = "0 " + std::to_string(::getuid()) + " 1\n";
    std::string gidMap = "0 " + std::to_string(::getgid()) + " 1\n";
    bool debug = std::getenv("ZOLM_PCSCD_DEBUG") != nullptr;
    std::vector<const char *> argv{"pcscd", "--foreground", "--config", config.c_str()};
    if (debug) argv.push_back("--debug");
    argv.push_back(nullptr);
    char listenPid[40] = "LISTEN_PID=";
    std::vector<std::string> environment{"LISTEN_FDS=1", "LISTEN_FDNAMES=pcscd.comm"};
    for (char **entry = environ; *entry != nullptr; ++entry)
        if (std::strncmp(*entry, "LISTEN_", 7) != 0) environment.push_back(*entry);
    std::vector<char *> envp;
    for (std::string &entry : environment) envp.push_back(entry.data());
    envp.push_back(listenPid);
    envp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(listener);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // A test that dies must not leave its daemon behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Socket activation: the listening socket is descriptor 3, named for this very process.
        if (listener == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(listener, 3);
        }
        int quiet = ::open("/dev/null", O_RDWR);
        ::dup2(quiet, 0);
        if (!debug) {
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
        }
        IsolateRunFolder(privateRun.c_str(), uidMap.c_str(), gidMap.c_str());
        FormatDecimal(listenPid + std::strlen(listenPid), ::getpid());
        ::execve(ZOLM_PCSCD_PROGRAM, const_cast<char *const *>(argv.data()), envp.data());
        ::_exit(127);
    }
    // Only the daemon may hold the socket: once it is gone, clients must find no service.
    ::close(listener);
    pid_ = pid;

    // The daemon answers once it has loaded its readers; an early exit means it could not start.
    SCARDCONTEXT context;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("pcscd exited at start (status " + std::to_string(status) + ")");
        }
        if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) == SCARD_S_SUCCESS) {
            SCardReleaseContext(context);
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) throw std::runtime_error("pcscd did not answer");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void TestPcscd::Stop() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

bool TestPcscd::WaitForCard(const char *reader, bool present, std::chrono::milliseconds timeout) {
    SocketPath();
    SCARDCONTEXT context;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    SCARD_READERSTATE state{};
    state.szReader = reader;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < deadline) {
        LONG rv = SCardGetStatusChange(context, 200, &state, 1);
        if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        DWORD now = state.dwEventState & ~SCARD_STATE_CHANGED;
        // A present card counts once it has answered with its ATR and may be connected.
        reached = present ? (now & SCARD_STATE_PRESENT) && !(now & SCARD_STATE_MUTE)
                          : (now & SCARD_STATE_EMPTY) != 0;
        state.dwCurrentState = now;
    }
    SCardReleaseContext(context);
    return reached;
}

}  // namespace zolm::pcsc::testing
