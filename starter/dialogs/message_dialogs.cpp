// The message dialogs' contract with the splash.
#include "starter/dialogs/message_dialogs.h"

#include <stdexcept>

namespace zolm::starter {
namespace {

UserInterface *installedUi = nullptr;
SplashControl *installedSplash = nullptr;

void RequireInstalled() {
    if (installedUi == nullptr || installedSplash == nullptr) throw std::logic_error("dialogs are not installed");
}

}  // namespace

void InstallDialogs(UserInterface *ui, SplashControl *splash) {
    installedUi = ui;
    installedSplash = splash;
}

ModalResult AskConfirmation(UserInterface &ui, SplashControl &splash, const std::string &question) {
    splash.HideSplash(false);
    ModalResult result = ModalResult::Cancel;
    try {
        result = ui.Confirm(question);
    } catch (...) {
        splash.DismissSplash();
        throw;
    }
    if (result == ModalResult::Yes) {
        splash.ShowSplash();
    } else {
        splash.DismissSplash();
    }
    return result;
}

void ShowError(UserInterface &ui, SplashControl &splash, const std::string &message, bool final) {
    splash.HideSplash(false);
    auto after = [&] {
        if (final) {
            splash.DismissSplash();
        } else {
            splash.ShowSplash();
        }
    };
    try {
        ui.Error(message);
    } catch (...) {
        after();
        throw;
    }
    after();
}

void ShowInformation(UserInterface &ui, SplashControl &splash, const std::string &caption, const std::string &message) {
    splash.HideSplash(false);
    try {
        ui.Information(caption, message);
    } catch (...) {
        splash.ShowSplash();
        throw;
    }
    splash.ShowSplash();
}

ModalResult AskConfirmation(const std::string &question) {
    RequireInstalled();
    return AskConfirmation(*installedUi, *installedSplash, question);
}

void ShowError(const std::string &message, bool final) {
    RequireInstalled();
    ShowError(*installedUi, *installedSplash, message, final);
}

void ShowInformation(const std::string &caption, const std::string &message) {
    RequireInstalled();
    ShowInformation(*installedUi, *installedSplash, caption, message);
}

}  // namespace zolm::starter
