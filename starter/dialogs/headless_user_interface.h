// The "ask the user" adapter for runs without a display: no window opens, every message is written
// whole to the given stream (standard error in the starter), questions answer No, the connection
// error Abort, the proxy settings and password dialogs Cancel.
#pragma once

#include <ostream>

#include "starter/dialogs/user_interface.h"

namespace zolm::starter {

class HeadlessUserInterface : public UserInterface {
public:
    // settings: for "application.title" and "probe.url" in the connection error text. out must outlive
    // this object.
    HeadlessUserInterface(SettingsAccess settings, std::ostream &out);

    ModalResult Confirm(const std::string &question) override;
    void Error(const std::string &message) override;
    void Information(const std::string &caption, const std::string &message) override;
    ModalResult InternetError(const std::string &errorMessage) override;
    ModalResult ProxySettings() override;
    std::optional<ProxyCredentials> ProxyPassword() override;

private:
    // caption, the text, and when given the answer taken, each on its own line(s), then a blank line.
    void Print(const std::string &caption, const std::string &text, const char *answer);

    SettingsAccess settings_;
    std::ostream &out_;
};

}  // namespace zolm::starter
