// The starter program: opens the settings, then runs the start-up sequence with the stages this
// build has. It takes no options; its arguments are the application's.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "starter/fileops.h"
#include "starter/dialogs/message_dialogs.h"
#include "starter/splash_keeper/splash_services.h"
#include "starter/start_config.h"
#include "starter/start_run.h"
#include "starter/startup.h"
#include "starter/ui/dialogs_stage.h"

int main(int argc, char **argv) {
    using namespace zolm::starter;
    try {
        OpenSettings(ProgramDirectory());
        SettingsAccess settings{[](std::string_view key) { return ReadSetting(key); },
                                [](std::string_view key, std::string_view value) { WriteSetting(key, value); }};
        SplashKeeper splash(StarterSplashServices());
        QtDialogsStage dialogs(settings, splash);

        LaunchServices launch;
        launch.readSetting = settings.read;
        launch.versionDirectory = [](std::string_view version) { return VersionDirectory(version); };
        launch.programDirectory = ProgramDirectory();
        launch.showFinalError = [](const std::string &text) { ShowError(text, true); };
        launch.isWine = IsWine();
        ApplicationLauncher launcher(std::move(launch), std::vector<std::string>(argv + 1, argv + argc));

        // Probe and update check join here as they are built.
        StartupStages stages;
        stages.splash = &splash;
        stages.dialogs = &dialogs;
        stages.launch = &launcher;
        return RunStartupSequence(stages, settings.read, IsWine());
    } catch (const std::exception &e) {
        // An error that escapes the sequence ends the run after its clean-up.
        std::fprintf(stderr, "starter: %s\n", e.what());
        return 1;
    }
}
