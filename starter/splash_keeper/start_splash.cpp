// The splash keeper's start, pulse, waits and stop.
#include "starter/splash_keeper/start_splash.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cmath>
#include <vector>

extern char **environ;

namespace zolm::starter {
namespace {

using namespace std::chrono_literals;

// The splash checks its events every 250 ms; the waits below give it time to react before the
// next window opens.
constexpr auto kSplashPoll = 250ms;
constexpr auto kBeforeShow = 750ms;
constexpr double kMinimumVisibleSeconds = 3.0;
constexpr int kMinimumVisibleMs = 3100;

class SystemClock : public SplashClock {
public:
    std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
    void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

std::string Quoted(const char *call, const std::string &argument) {
    return std::string(call) + "(\"" + argument + "\")";
}

// Starts "shell -c command" in a session of its own with standard input, output and error on
// /dev/null and waits only for the shell, which leaves the command running in the background.
// Returns 0 or the error of the start.
int StartInBackground(const std::string &shell, const std::string &command) {
    const std::string background = "(" + command + ") </dev/null >/dev/null 2>&1 &";
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<char *> argv = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                                const_cast<char *>(background.c_str()), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return error;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
}

}  // namespace

SplashClock &SystemSplashClock() {
    static SystemClock clock;
    return clock;
}

std::string NewGuidText() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_upper(id, text);
    return text;
}

std::string ShellQuote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string SplashCommandLine(const std::string &program, const std::string &guid, const std::string &imagePath) {
    return ShellQuote(program) + " " + ShellQuote(guid) + " " + ShellQuote(imagePath) + " && rm -f -- " +
           ShellQuote(program);
}

// ---- TSplashKeeper

TSplashKeeper::TSplashKeeper(platform::NamedEvent &keepAlive, std::chrono::milliseconds period)
    : keepAlive_(keepAlive), period_(period), thread_([this] { Execute(); }) {}

TSplashKeeper::~TSplashKeeper() { Terminate(); }

void TSplashKeeper::Execute() {
    std::unique_lock lock(mutex_);
    while (!terminated_) {
        keepAlive_.Set();
        wake_.wait_for(lock, period_, [this] { return terminated_; });
    }
}

void TSplashKeeper::Terminate() {
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

// ---- SplashKeeper

SplashKeeper::SplashKeeper(SplashServices services) : services_(std::move(services)) {
    if (!services_.newGuid) services_.newGuid = NewGuidText;
    if (services_.clock == nullptr) services_.clock = &SystemSplashClock();
}

SplashKeeper::~SplashKeeper() {
    if (keeper_) keeper_->Terminate();
}

std::string SplashKeeper::StartSplash() {
    const std::string program = services_.writeSplashProgram();
    try {
        // A program written out to run: executable by its owner only, closed before it starts.
        if (::chmod(program.c_str(), 0700) != 0) services_.raiseLastError(Quoted("SetFileAttributes", program), errno);
        guid_ = services_.newGuid();
        keepAlive_ = platform::NamedEvent::CreateOrOpen(guid_ + "-KEEP-ALIVE", true);
        hide_ = platform::NamedEvent::CreateOrOpen(guid_ + "-HIDE", false);
        show_ = platform::NamedEvent::CreateOrOpen(guid_ + "-SHOW", false);
        keeper_ = std::make_unique<TSplashKeeper>(*keepAlive_, services_.pulsePeriod);
        const std::string image = services_.splashImagePath();
        if (int error = StartInBackground(services_.shell, SplashCommandLine(program, guid_, image)); error != 0) {
            services_.raiseLastError(Quoted("CreateProcess", program), error);
        }
    } catch (...) {
        if (keeper_) keeper_->Terminate();
        keeper_.reset();
        // Nobody will run the splash that would remove them: no event is left behind.
        RemoveEvents();
        ::unlink(program.c_str());
        throw;
    }
    dismissed_ = false;
    lastShown_ = services_.clock->Now();
    return guid_;
}

void SplashKeeper::RemoveEvents() {
    if (guid_.empty()) return;
    for (const char *suffix : {"-KEEP-ALIVE", "-HIDE", "-SHOW"}) {
        try {
            platform::NamedEvent::Remove(guid_ + suffix);
        } catch (...) {
        }
    }
}

void SplashKeeper::HideSplash(bool immediate) {
    if (dismissed_ || !hide_) return;
    const double seconds = std::chrono::duration<double>(services_.clock->Now() - lastShown_).count();
    if (seconds < kMinimumVisibleSeconds && !immediate) {
        const auto wait = kMinimumVisibleMs - static_cast<long>(std::lround(seconds * 1000.0));
        if (wait > 0) services_.clock->Sleep(std::chrono::milliseconds(wait));
    }
    hide_->Set();
    services_.clock->Sleep(kSplashPoll);
}

void SplashKeeper::ShowSplash() {
    if (dismissed_ || !show_) return;
    services_.clock->Sleep(kBeforeShow);
    show_->Set();
    services_.clock->Sleep(kSplashPoll);
    lastShown_ = services_.clock->Now();
}

void SplashKeeper::StopSplash() {
    HideSplash(true);
    if (keeper_) keeper_->Terminate();
    keeper_.reset();
}

}  // namespace zolm::starter
