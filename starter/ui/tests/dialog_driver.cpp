// Test driver for the end-to-end dialog test: the starter's dialog wiring (toolkit, skin, splash
// keeper with the embedded splash) asking one question; prints "result=<ModalResult>" on standard error.
#include <cstdio>
#include <exception>

#include "starter/dialogs/message_dialogs.h"
#include "starter/last_error.h"
#include "starter/splash_keeper/splash_resource.h"
#include "starter/splash_keeper/start_splash.h"
#include "starter/temp_file.h"
#include "starter/ui/dialogs_stage.h"

int main(int argc, char **argv) {
    using namespace zolm::starter;
    if (argc != 2) return 2;
    try {
        SplashServices services;
        services.writeSplashProgram = [] { return WriteResourceToTempFile(kSplashResourceName, SplashResource); };
        services.splashImagePath = [] { return std::string(); };
        services.raiseLastError = [](std::string_view call, int code) { RaiseLastError(call, code); };
        SplashKeeper splash(std::move(services));
        SettingsAccess settings{[](std::string_view) { return std::string(); },
                                [](std::string_view, std::string_view) {}};
        QtDialogsStage dialogs(settings, splash);
        dialogs.InitializeToolkit();
        std::fprintf(stderr, "splash=%s\n", splash.StartSplash().c_str());
        std::fflush(stderr);
        auto skin = dialogs.CreateSkinHolder();
        const ModalResult result = AskConfirmation(argv[1]);
        std::fprintf(stderr, "result=%d\n", static_cast<int>(result));
        std::fflush(stderr);
        splash.StopSplash();
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dialog_driver: %s\n", e.what());
        return 1;
    }
}
