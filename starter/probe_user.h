// What the connectivity probe needs of the user and of the splash: one small port, so the probe runs
// the same behind the Qt dialogs, without a display, and against a scripted double in tests.
#pragma once

#include <optional>
#include <string>

namespace zolm::starter {

class ProbeUser {
public:
    // The connection error dialog's answers; a window closed any other way counts as Abort.
    enum class ErrorChoice { Retry, Ignore, Abort };
    // The proxy password dialog's texts after OK. They live for the run only and are never stored.
    struct Credentials {
        std::string username;
        std::string password;
    };

    virtual ~ProbeUser() = default;

    // The splash steps aside before a dialog (HideSplash without the immediate flag), comes back
    // after it, or stays away for the rest of the run.
    virtual void HideSplash() = 0;
    virtual void ShowSplash() = 0;
    virtual void DismissSplash() = 0;

    // TInternetErrorForm with the attempt's error message, modal. Its "Настроить..." button runs
    // the proxy settings dialog, which writes the proxy keys the next attempt reads.
    virtual ErrorChoice InternetError(const std::string &errorMessage) = 0;
    // TProxyPasswordForm, opened empty, modal: the texts after OK, nothing otherwise.
    virtual std::optional<Credentials> ProxyPassword() = 0;
    // AskConfirmation (the question dialog with its own splash handling): true only for Yes.
    virtual bool AskConfirmation(const std::string &question) = 0;
};

}  // namespace zolm::starter
