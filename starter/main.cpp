// The starter program: opens the settings, then runs the start-up sequence with the stages this
// build has. It takes no options; its arguments are the application's.
#include <cstdio>
#include <exception>

#include "starter/fileops.h"
#include "starter/start_config.h"
#include "starter/startup.h"

int main(int /*argc*/, char ** /*argv*/) {
    using namespace zolm::starter;
    try {
        OpenSettings(ProgramDirectory());
        // Splash keeper, dialogs, probe, update check and launch join here as they are built.
        StartupStages stages;
        return RunStartupSequence(stages, [](std::string_view key) { return ReadSetting(key); }, IsWine());
    } catch (const std::exception &e) {
        // An error that escapes the sequence ends the run after its clean-up.
        std::fprintf(stderr, "starter: %s\n", e.what());
        return 1;
    }
}
