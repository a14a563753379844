// The start-up sequence and its clean-up "as far as the sequence came".
#include "starter/startup.h"

#include <chrono>
#include <memory>

#include "starter/random_text.h"

namespace zolm::starter {

bool IsWine() { return false; }

int RunStartupSequence(const StartupStages &stages, const std::function<std::string(std::string_view)> &readSetting,
                       bool isWine, StartupState *stateOut) {
    // The Windows steps before the splash (critical-error dialogs off, COM in the multithreaded
    // apartment) have no counterpart here: Linux shows no such dialogs and the XML library needs no
    // per-thread set-up.
    StartupState state;
    std::unique_ptr<SkinHolder> skin;
    bool splashStarted = false;
    auto cleanUp = [&] {
        skin.reset();
        if (splashStarted) {
            splashStarted = false;
            stages.splash->StopSplash();
        }
    };
    try {
        if (stages.dialogs != nullptr) stages.dialogs->InitializeToolkit();
        SeedRandom(static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));

        if (stages.splash != nullptr) {
            state.SplashGuid = stages.splash->StartSplash();
            splashStarted = true;
        }

        if (stages.dialogs != nullptr) skin = stages.dialogs->CreateSkinHolder();
        if (isWine) {
            if (skin) skin->DisableSkinning();
        } else {
            state.SkinName = readSetting("application.icon_set");
            if (skin && !state.SkinName.empty()) skin->SelectSkin(state.SkinName + " (internal)");
        }

        // Without a probe the run goes on as after "continue without Internet access".
        bool goOn = stages.probe == nullptr || stages.probe->ProbeConnection(state);
        if (goOn) {
            if (stages.update != nullptr)
                stages.update->CheckForUpdate(state.InternetAvailable, state.ProxyServer, state.ProxyUsername,
                                              state.ProxyPassword);
            if (stages.launch != nullptr)
                stages.launch->RunApplication(state.ProxyServer, state.ProxyUsername, state.ProxyPassword,
                                              state.SplashGuid);
        }
    } catch (...) {
        try {
            cleanUp();
        } catch (...) {
            // The first error is the one to report.
        }
        if (stateOut != nullptr) *stateOut = state;
        throw;
    }
    cleanUp();
    if (stateOut != nullptr) *stateOut = state;
    return 0;
}

}  // namespace zolm::starter
