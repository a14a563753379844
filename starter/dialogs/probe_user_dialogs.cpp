#include "starter/dialogs/probe_user_dialogs.h"

#include "starter/dialogs/message_dialogs.h"

namespace zolm::starter {

ProbeUser::ErrorChoice DialogsProbeUser::InternetError(const std::string &errorMessage) {
    switch (ui_.InternetError(errorMessage)) {
        case ModalResult::Retry:
            return ErrorChoice::Retry;
        case ModalResult::Ignore:
            return ErrorChoice::Ignore;
        default:  // Abort, or the window closed any other way
            return ErrorChoice::Abort;
    }
}

std::optional<ProbeUser::Credentials> DialogsProbeUser::ProxyPassword() {
    std::optional<ProxyCredentials> entered = ui_.ProxyPassword();
    if (!entered) return std::nullopt;
    return Credentials{std::move(entered->username), std::move(entered->password)};
}

bool DialogsProbeUser::AskConfirmation(const std::string &question) {
    return zolm::starter::AskConfirmation(ui_, splash_, question) == ModalResult::Yes;
}

}  // namespace zolm::starter
