// The probe's user without a display: no window opens, every dialog is written whole to a stream
// (standard error in the starter), the connection error is answered Abort, the proxy password dialog
// Cancel and every question No. There is no splash to step aside.
#pragma once

#include <ostream>

#include "starter/probe_user.h"
#include "starter/start_probe.h"

namespace zolm::starter {

class HeadlessProbeUser : public ProbeUser {
public:
    // readSetting gives "application.title" and "probe.url" for the texts; out must outlive this.
    HeadlessProbeUser(SettingReader readSetting, std::ostream &out) : readSetting_(std::move(readSetting)), out_(out) {}

    void HideSplash() override {}
    void ShowSplash() override {}
    void DismissSplash() override {}
    ErrorChoice InternetError(const std::string &errorMessage) override;
    std::optional<Credentials> ProxyPassword() override;
    bool AskConfirmation(const std::string &question) override;

private:
    // The caption, the text with line feeds for CR LF, the answer taken, and a blank line.
    void Print(const char *caption, const std::string &text, const char *answer);

    SettingReader readSetting_;
    std::ostream &out_;
};

}  // namespace zolm::starter
