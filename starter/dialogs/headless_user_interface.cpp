// Headless answers, printed so a script or a support engineer reads what the user would have seen.
#include "starter/dialogs/headless_user_interface.h"

#include <cstdlib>

#include "starter/dialogs/dialog_texts.h"

namespace zolm::starter {

bool HasDisplay() {
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

HeadlessUserInterface::HeadlessUserInterface(SettingsAccess settings, std::ostream &out)
    : settings_(std::move(settings)), out_(out) {}

void HeadlessUserInterface::Print(const std::string &caption, const std::string &text, const char *answer) {
    out_ << caption << '\n' << texts::UnixLineBreaks(text) << '\n';
    if (answer != nullptr) out_ << texts::kAnswerPrefix << answer << '\n';
    out_ << '\n';
    out_.flush();
}

ModalResult HeadlessUserInterface::Confirm(const std::string &question) {
    Print(texts::kConfirmationCaption, question, texts::kNo);
    return ModalResult::No;
}

void HeadlessUserInterface::Error(const std::string &message) { Print(texts::kErrorCaption, message, nullptr); }

void HeadlessUserInterface::Information(const std::string &caption, const std::string &message) {
    Print(caption, message, nullptr);
}

ModalResult HeadlessUserInterface::InternetError(const std::string &errorMessage) {
    const std::string text = texts::Format(
        texts::kInternetErrorFormat, {settings_.read("application.title"), settings_.read("probe.url"), errorMessage});
    Print(texts::kInternetCheckCaption, text, texts::kAbort);
    return ModalResult::Abort;
}

ModalResult HeadlessUserInterface::ProxySettings() {
    Print(texts::kInternetSettingsCaption, texts::kProxyGroup + 1, texts::kCancel);
    return ModalResult::Cancel;
}

std::optional<ProxyCredentials> HeadlessUserInterface::ProxyPassword() {
    Print(texts::kInternetSettingsCaption,
          texts::Format(texts::kProxyPasswordFormat, {settings_.read("application.title")}), texts::kCancel);
    return std::nullopt;
}

}  // namespace zolm::starter
