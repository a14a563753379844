// The Qt adapter of the "ask the user" port, and the choice between it and the headless adapter.
#pragma once

#include <memory>

#include "starter/dialogs/user_interface.h"

namespace zolm::starter {

class QtUserInterface : public UserInterface {
public:
    explicit QtUserInterface(SettingsAccess settings);

    ModalResult Confirm(const std::string &question) override;
    void Error(const std::string &message) override;
    void Information(const std::string &caption, const std::string &message) override;
    ModalResult InternetError(const std::string &errorMessage) override;
    ModalResult ProxySettings() override;
    std::optional<ProxyCredentials> ProxyPassword() override;

private:
    SettingsAccess settings_;
};

// Creates the process's QApplication once, when a display is there (HasDisplay). Later calls and
// calls without a display do nothing.
void InitializeDialogToolkit();

// The Qt dialogs when a display is there and the toolkit is up, else the headless answers on
// standard error.
std::unique_ptr<UserInterface> MakeUserInterface(SettingsAccess settings);

}  // namespace zolm::starter
