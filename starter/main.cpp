// The starter program: opens the settings, then runs the start-up sequence with the stages this
// build has. It takes no options; its arguments are the application's.
#include <cstdio>
#include <exception>
#include <iostream>

#include "starter/fileops.h"
#include "starter/headless_probe_user.h"
#include "starter/start_config.h"
#include "starter/start_probe.h"
#include "starter/startup.h"

int main(int /*argc*/, char ** /*argv*/) {
    using namespace zolm::starter;
    try {
        OpenSettings(ProgramDirectory());
        SettingReader readSetting = [](std::string_view key) { return ReadSetting(key); };
        // The probe talks to the user through the headless dialogs (standard error) until the
        // desktop dialogs join; splash keeper, update check and launch join here as they are built.
        HeadlessProbeUser user(readSetting, std::cerr);
        ConnectionProbe probe(user, readSetting);
        StartupStages stages;
        stages.probe = &probe;
        return RunStartupSequence(stages, readSetting, IsWine());
    } catch (const std::exception &e) {
        // An error that escapes the sequence ends the run after its clean-up.
        std::fprintf(stderr, "starter: %s\n", e.what());
        return 1;
    }
}
