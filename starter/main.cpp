// The starter program: opens the settings, then runs the start-up sequence with the stages this
// build has. It takes no options; its arguments are the application's.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "starter/fileops.h"
#include "starter/start_config.h"
#include "starter/start_run.h"
#include "starter/startup.h"

int main(int argc, char **argv) {
    using namespace zolm::starter;
    try {
        OpenSettings(ProgramDirectory());

        LaunchServices launch;
        launch.readSetting = [](std::string_view key) { return ReadSetting(key); };
        launch.versionDirectory = [](std::string_view version) { return VersionDirectory(version); };
        launch.programDirectory = ProgramDirectory();
        // Until the dialogs join, every message is printed whole on standard error, as without a display.
        launch.showFinalError = [](const std::string &text) { std::fprintf(stderr, "%s\n", text.c_str()); };
        launch.isWine = IsWine();
        ApplicationLauncher launcher(std::move(launch), std::vector<std::string>(argv + 1, argv + argc));

        // Splash keeper, dialogs, probe and update check join here as they are built.
        StartupStages stages;
        stages.launch = &launcher;
        return RunStartupSequence(stages, [](std::string_view key) { return ReadSetting(key); }, IsWine());
    } catch (const std::exception &e) {
        // An error that escapes the sequence ends the run after its clean-up.
        std::fprintf(stderr, "starter: %s\n", e.what());
        return 1;
    }
}
