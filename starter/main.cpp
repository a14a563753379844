// The starter program: opens the settings, then runs the start-up sequence with the stages this
// build has. It takes no options; its arguments are the application's.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "starter/dialogs/message_dialogs.h"
#include "starter/dialogs/probe_user_dialogs.h"
#include "starter/fileops.h"
#include "starter/splash_keeper/splash_services.h"
#include "starter/start_config.h"
#include "starter/start_probe.h"
#include "starter/start_run.h"
#include "starter/start_update.h"
#include "starter/startup.h"
#include "starter/ui/dialogs_stage.h"

namespace zolm::starter {
namespace {

// The probe's user is the run's dialogs, which exist only once the toolkit is up (the sequence's
// dialogs step comes before the probe); this defers to them at the first question.
class LateProbeUser : public ProbeUser {
public:
    LateProbeUser(QtDialogsStage &dialogs, SplashControl &splash) : dialogs_(dialogs), splash_(splash) {}
    void HideSplash() override { Get().HideSplash(); }
    void ShowSplash() override { Get().ShowSplash(); }
    void DismissSplash() override { Get().DismissSplash(); }
    ErrorChoice InternetError(const std::string &message) override { return Get().InternetError(message); }
    std::optional<Credentials> ProxyPassword() override { return Get().ProxyPassword(); }
    bool AskConfirmation(const std::string &question) override { return Get().AskConfirmation(question); }

private:
    ProbeUser &Get() {
        if (!user_) user_.emplace(dialogs_.Ui(), splash_);
        return *user_;
    }
    QtDialogsStage &dialogs_;
    SplashControl &splash_;
    std::optional<DialogsProbeUser> user_;
};

// The update check's user is the run's message dialogs (installed by the dialogs step).
class DialogsUpdateUser : public UpdateUser {
public:
    bool AskConfirmation(const std::string &question) override {
        return zolm::starter::AskConfirmation(question) == ModalResult::Yes;
    }
    void ShowError(const std::string &message) override { zolm::starter::ShowError(message, false); }
    void ShowInformation(const std::string &caption, const std::string &message) override {
        zolm::starter::ShowInformation(caption, message);
    }
};

}  // namespace
}  // namespace zolm::starter

int main(int argc, char **argv) {
    using namespace zolm::starter;
    try {
        OpenSettings(ProgramDirectory());
        SettingsAccess settings{[](std::string_view key) { return ReadSetting(key); },
                                [](std::string_view key, std::string_view value) { WriteSetting(key, value); }};
        SplashKeeper splash(StarterSplashServices());
        QtDialogsStage dialogs(settings, splash);

        LateProbeUser probeUser(dialogs, splash);
        ConnectionProbe probe(probeUser, settings.read);

        LaunchServices launch;
        launch.readSetting = settings.read;
        launch.versionDirectory = [](std::string_view version) { return VersionDirectory(version); };
        launch.programDirectory = ProgramDirectory();
        launch.showFinalError = [](const std::string &text) { ShowError(text, true); };
        launch.isWine = IsWine();
        ApplicationLauncher launcher(std::move(launch), std::vector<std::string>(argv + 1, argv + argc));

        DialogsUpdateUser updateUser;
        UpdateServices update;
        update.readSetting = settings.read;
        update.versionDirectory = [](std::string_view version) { return VersionDirectory(version); };
        UpdateChecker updateChecker(updateUser, std::move(update));

        StartupStages stages;
        stages.splash = &splash;
        stages.dialogs = &dialogs;
        stages.probe = &probe;
        stages.update = &updateChecker;
        stages.launch = &launcher;
        return RunStartupSequence(stages, settings.read, IsWine());
    } catch (const std::exception &e) {
        // An error that escapes the sequence ends the run after its clean-up.
        std::fprintf(stderr, "starter: %s\n", e.what());
        return 1;
    }
}
