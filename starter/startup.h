// The start-up sequence: the values handed from step to step, the Wine flag, and the run itself.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "starter/stages.h"

namespace zolm::starter {

// Values that live for the whole run, all owned by the sequence.
struct StartupState {
    std::string SplashGuid;     // set by the splash start, read by the launch
    std::string ProxyServer;    // set by the probe on success
    std::string ProxyUsername;  // set by the probe on success
    std::string ProxyPassword;  // set by the probe on success
    bool InternetAvailable = false;
    std::string SkinName;  // "application.icon_set"
};

// True when the process runs under Wine. A native Linux process never does: always false here.
bool IsWine();

// Runs the sequence: seed the random generator, toolkit, splash, skin, probe, and when the probe
// says go on the update check and the launch; then the clean-up (skin holder, splash). A step's
// error escapes after the clean-up of what had been started. readSetting reads the settings store.
// Returns the exit code, 0. state, when given, receives the final values (for tests).
int RunStartupSequence(const StartupStages &stages, const std::function<std::string(std::string_view)> &readSetting,
                       bool isWine, StartupState *state = nullptr);

}  // namespace zolm::starter
