// The proxy dialogs: the connection error dialog of the probe (TInternetErrorForm), the proxy
// settings dialog (TProxySettingsForm, the only writer of the proxy keys) and the proxy password
// dialog (TProxyPasswordForm, whose values are never stored).
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "starter/ui/starter_form.h"

namespace zolm::starter {

// "Проверка доступа в Интернет", 760x317: Повторить (Retry, default), Прервать (Abort, cancel
// button), Игнорировать (Ignore) left to right, and Настроить... above them at the right, which runs
// the settings dialog and comes back. Closing the window gives Cancel.
class TInternetErrorForm : public TStarterForm {
    Q_OBJECT
public:
    // settings: "application.title" and "probe.url" for the message, and the settings dialog's keys.
    TInternetErrorForm(SettingsAccess settings, const std::string &errorMessage);
    QLabel *MessageLabel() const { return lblMessage_; }

private:
    void btnProxyClick();

    SettingsAccess settings_;
    QLabel *lblMessage_;
};

// "Настройка доступа в Интернет", 532x300: direct, browser (preconfigured) or the given proxy; host
// (at most 32 characters) and port (at most 5 digits) enabled only for the given proxy. OK writes
// "proxy.type", "proxy.host" and "proxy.port" (host and port whatever the type); Cancel writes
// nothing. A failing write ends the dialog and is raised by ShowModal.
class TProxySettingsForm : public TStarterForm {
    Q_OBJECT
public:
    explicit TProxySettingsForm(SettingsAccess settings);

private:
    void cbDirectClick();
    void btnOkClick();

    SettingsAccess settings_;
    QRadioButton *cbDirect_;
    QRadioButton *cbIE_;
    QRadioButton *cbProxy_;
    QLabel *lblProxyHost_;
    QLineEdit *edtProxyHost_;
    QLabel *lblProxyPort_;
    QLineEdit *edtProxyPort_;
};

// "Настройка доступа в Интернет", 532x314: user name and masked password (at most 32 characters
// each), always opened empty. Username and Password are meaningful after OK.
class TProxyPasswordForm : public TStarterForm {
    Q_OBJECT
public:
    explicit TProxyPasswordForm(SettingsAccess settings);
    QLabel *MessageLabel() const { return lblMessage_; }
    std::string Username() const;
    std::string Password() const;

private:
    QLabel *lblMessage_;
    QLineEdit *edtUsername_;
    QLineEdit *edtPassword_;
};

}  // namespace zolm::starter
