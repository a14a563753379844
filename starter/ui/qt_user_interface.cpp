// Each dialog object lives for one modal display only.
#include "starter/ui/qt_user_interface.h"

#include <QApplication>
#include <iostream>

#include "starter/dialogs/headless_user_interface.h"
#include "starter/ui/message_forms.h"
#include "starter/ui/proxy_forms.h"

namespace zolm::starter {

QtUserInterface::QtUserInterface(SettingsAccess settings) : settings_(std::move(settings)) {}

ModalResult QtUserInterface::Confirm(const std::string &question) {
    TConfirmationForm form(question);
    return form.ShowModal();
}

void QtUserInterface::Error(const std::string &message) {
    TErrorForm form(message);
    form.ShowModal();
}

void QtUserInterface::Information(const std::string &caption, const std::string &message) {
    TInformationForm form;
    form.SetCaption(caption);
    form.SetText(message);
    form.ShowModal();
}

ModalResult QtUserInterface::InternetError(const std::string &errorMessage) {
    TInternetErrorForm form(settings_, errorMessage);
    return form.ShowModal();
}

ModalResult QtUserInterface::ProxySettings() {
    TProxySettingsForm form(settings_);
    return form.ShowModal();
}

std::optional<ProxyCredentials> QtUserInterface::ProxyPassword() {
    TProxyPasswordForm form(settings_);
    if (form.ShowModal() != ModalResult::Ok) return std::nullopt;
    return ProxyCredentials{form.Username(), form.Password()};
}

void InitializeDialogToolkit() {
    if (qApp != nullptr || !HasDisplay()) return;
    static int argc = 1;
    static char name[] = "starter";
    static char *argv[] = {name, nullptr};
    // Lives until the process ends: the starter runs no main loop, only the dialogs' modal loops.
    static QApplication *application = new QApplication(argc, argv);
    application->setQuitOnLastWindowClosed(false);
}

std::unique_ptr<UserInterface> MakeUserInterface(SettingsAccess settings) {
    if (HasDisplay() && qApp != nullptr) return std::make_unique<QtUserInterface>(std::move(settings));
    return std::make_unique<HeadlessUserInterface>(std::move(settings), std::cerr);
}

}  // namespace zolm::starter
