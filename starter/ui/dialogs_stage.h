// The dialogs as the start-up sequence sees them: the GUI toolkit, the "ask the user" interface of
// the run (Qt with a display, headless without) and the skin holder.
#pragma once

#include <memory>

#include "starter/dialogs/splash_control.h"
#include "starter/dialogs/user_interface.h"
#include "starter/stages.h"

namespace zolm::starter {

class QtDialogsStage : public DialogsStage {
public:
    // splash: hidden and shown around the message dialogs; must outlive this object.
    QtDialogsStage(SettingsAccess settings, SplashControl &splash);
    ~QtDialogsStage() override;

    // Creates the toolkit when a display is there, then the run's user interface, and installs it
    // with the splash for AskConfirmation, ShowError and ShowInformation.
    void InitializeToolkit() override;
    // The Opus skin holder with the toolkit; a holder that does nothing without it.
    std::unique_ptr<SkinHolder> CreateSkinHolder() override;

    // The run's user interface; valid after InitializeToolkit.
    UserInterface &Ui() { return *ui_; }

private:
    SettingsAccess settings_;
    SplashControl &splash_;
    std::unique_ptr<UserInterface> ui_;
};

}  // namespace zolm::starter
