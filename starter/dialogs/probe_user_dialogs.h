// The connectivity probe's port to the user, served by the run's dialogs and splash keeper: the same
// windows (or, without a display, the same printed texts) as every other dialog of the run.
#pragma once

#include "starter/dialogs/splash_control.h"
#include "starter/dialogs/user_interface.h"
#include "starter/probe_user.h"

namespace zolm::starter {

class DialogsProbeUser : public ProbeUser {
public:
    // ui and splash must outlive this object.
    DialogsProbeUser(UserInterface &ui, SplashControl &splash) : ui_(ui), splash_(splash) {}

    void HideSplash() override { splash_.HideSplash(false); }
    void ShowSplash() override { splash_.ShowSplash(); }
    void DismissSplash() override { splash_.DismissSplash(); }
    ErrorChoice InternetError(const std::string &errorMessage) override;
    std::optional<Credentials> ProxyPassword() override;
    bool AskConfirmation(const std::string &question) override;

private:
    UserInterface &ui_;
    SplashControl &splash_;
};

}  // namespace zolm::starter
