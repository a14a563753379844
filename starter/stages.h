// The stages the start-up sequence runs, as the sequence sees them. Each real stage lives in its own
// module (splash keeper, dialogs and skin, probe, update check, launch); tests put doubles in their
// place.
#pragma once

#include <memory>
#include <string>

namespace zolm::starter {

struct StartupState;

// Splash keeper: StartSplash writes out and starts the splash and returns SplashGuid (36 characters,
// upper case); StopSplash ends the keep-alive pulse. May raise (the sequence then cleans up).
class SplashStage {
public:
    virtual ~SplashStage() = default;
    virtual std::string StartSplash() = 0;
    virtual void StopSplash() = 0;
};

// The hidden holder of the dialogs' skin; destroying it is the clean-up.
class SkinHolder {
public:
    virtual ~SkinHolder() = default;
    virtual void DisableSkinning() = 0;
    // Selects a built-in skin by its full name ("<name> (internal)"); an unknown name leaves the
    // skin engine's fallback in force.
    virtual void SelectSkin(const std::string &name) = 0;
};

// Dialogs: the GUI toolkit, initialised once, and the skin holder.
class DialogsStage {
public:
    virtual ~DialogsStage() = default;
    virtual void InitializeToolkit() = 0;
    virtual std::unique_ptr<SkinHolder> CreateSkinHolder() = 0;
};

// Connectivity probe: fills ProxyServer, ProxyUsername, ProxyPassword and InternetAvailable; false
// ends the run (the user gave up).
class ProbeStage {
public:
    virtual ~ProbeStage() = default;
    virtual bool ProbeConnection(StartupState &state) = 0;
};

// Update check: reports its own failures and always returns.
class UpdateStage {
public:
    virtual ~UpdateStage() = default;
    virtual void CheckForUpdate(bool internetAvailable, const std::string &proxyServer,
                                const std::string &proxyUsername, const std::string &proxyPassword) = 0;
};

// Application launch (with the starter's own arguments, given to it when it is made): reports its
// own failures and always returns.
class LaunchStage {
public:
    virtual ~LaunchStage() = default;
    virtual void RunApplication(const std::string &proxyServer, const std::string &proxyUsername,
                                const std::string &proxyPassword, const std::string &splashGuid) = 0;
};

// The stages of one run; a null stage is one the program does not have, and its step is skipped.
struct StartupStages {
    SplashStage *splash = nullptr;
    DialogsStage *dialogs = nullptr;
    ProbeStage *probe = nullptr;
    UpdateStage *update = nullptr;
    LaunchStage *launch = nullptr;
};

}  // namespace zolm::starter
