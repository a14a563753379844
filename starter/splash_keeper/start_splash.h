// start_splashU: the splash keeper. Writes the splash program out, starts it through the shell,
// keeps it alive with a pulse every second (TSplashKeeper) and steps it aside around every dialog
// through the events "<SplashGuid>-KEEP-ALIVE", "-HIDE" and "-SHOW".
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/named_objects.h"
#include "starter/dialogs/splash_control.h"
#include "starter/stages.h"

namespace zolm::starter {

// Time as the keeper's waits see it; tests put a controllable clock in its place.
class SplashClock {
public:
    virtual ~SplashClock() = default;
    virtual std::chrono::steady_clock::time_point Now() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The real clock: monotonic, so a clock correction during the run cannot stretch or skip a wait.
SplashClock &SystemSplashClock();

// What StartSplash needs from the rest of the starter.
struct SplashServices {
    // Writes the embedded splash program (SPLASH_EXE) to a new temporary file and returns its path;
    // raises on failure (WriteResourceToTempFile).
    std::function<std::string()> writeSplashProgram;
    // VersionDirectory of "versions.current" followed by "application.splash".
    std::function<std::string()> splashImagePath;
    // Raises the starter's error for a failed call with the system error text (RaiseLastError).
    std::function<void(std::string_view call, int code)> raiseLastError;
    // A new GUID in text form without braces, upper case.
    std::function<std::string()> newGuid;
    // The command processor.
    std::string shell = "/bin/sh";
    SplashClock *clock = &SystemSplashClock();
    std::chrono::milliseconds pulsePeriod{1000};
};

// A GUID from the system's generator, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in upper case.
std::string NewGuidText();

// text in single quotes for /bin/sh, embedded single quotes as '\'' : never expanded or split.
std::string ShellQuote(std::string_view text);

// The shell command that runs the splash with its two arguments and deletes the temporary program
// once the splash has ended with exit code 0.
std::string SplashCommandLine(const std::string &program, const std::string &guid, const std::string &imagePath);

// TSplashKeeper: signals the keep-alive event, then waits one period, until asked to terminate.
class TSplashKeeper {
public:
    TSplashKeeper(platform::NamedEvent &keepAlive, std::chrono::milliseconds period);
    // Terminates and waits for the thread.
    ~TSplashKeeper();
    TSplashKeeper(const TSplashKeeper &) = delete;
    TSplashKeeper &operator=(const TSplashKeeper &) = delete;

    // Asks the thread to end and waits for it; the pulse stops at once, not after the current wait.
    void Terminate();

private:
    void Execute();

    platform::NamedEvent &keepAlive_;
    std::chrono::milliseconds period_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool terminated_ = false;
    std::thread thread_;
};

// The process's splash control state: the start-up sequence's splash stage and the dialogs' splash
// control. All operations run on the main thread.
class SplashKeeper : public SplashStage, public SplashControl {
public:
    explicit SplashKeeper(SplashServices services);
    ~SplashKeeper() override;

    // Writes out and starts the splash, starts the pulse; returns SplashGuid. On failure the
    // temporary program and the events are removed and the error goes on.
    std::string StartSplash() override;
    // Waits until the splash has been visible 3.1 s (not with immediate), signals hide, waits 250 ms.
    void HideSplash(bool immediate) override;
    // Waits 750 ms, signals show, waits 250 ms; the splash counts as shown from then.
    void ShowSplash() override;
    void DismissSplash() override { dismissed_ = true; }
    // Hides at once and ends the pulse: the splash closes itself within about 5 s unless the
    // application keeps it alive. Safe when the splash never started.
    void StopSplash() override;

    bool Dismissed() const { return dismissed_; }
    const std::string &SplashGuid() const { return guid_; }

private:
    void RemoveEvents();

    SplashServices services_;
    std::string guid_;
    std::optional<platform::NamedEvent> keepAlive_;
    std::optional<platform::NamedEvent> hide_;
    std::optional<platform::NamedEvent> show_;
    std::unique_ptr<TSplashKeeper> keeper_;
    bool dismissed_ = false;
    std::chrono::steady_clock::time_point lastShown_{};
};

}  // namespace zolm::starter
