// The "ask the user" port of the starter: every dialog of the run goes through it. The Qt adapter
// (starter/ui) opens the real windows; the headless adapter answers without a display; tests use
// scripted doubles. Implementations only show and answer: hiding and showing the splash around a
// dialog is the caller's business (message_dialogs.h).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zolm::starter {

// Results of a modal dialog, with the values the forms' toolkit gave them.
enum class ModalResult { None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

// Read and write access to the settings store (ReadSetting / WriteSetting). write may raise; the
// dialog that writes lets that error reach its caller.
struct SettingsAccess {
    std::function<std::string(std::string_view key)> read;
    std::function<void(std::string_view key, std::string_view value)> write;
};

// What the proxy password dialog hands back after OK. Lives for the run only, never stored.
struct ProxyCredentials {
    std::string username;
    std::string password;
};

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // TConfirmationForm: Yes, No or Cancel (Escape and closing give Cancel).
    virtual ModalResult Confirm(const std::string &question) = 0;
    // TErrorForm: returns when the user closed it.
    virtual void Error(const std::string &message) = 0;
    // TInformationForm with the caller's caption.
    virtual void Information(const std::string &caption, const std::string &message) = 0;
    // TInternetErrorForm for the probe's error message ("application.title" and "probe.url" come
    // from the settings): Retry, Abort or Ignore; Cancel when the window was closed. Its
    // "Настроить..." button runs the proxy settings dialog in between.
    virtual ModalResult InternetError(const std::string &errorMessage) = 0;
    // TProxySettingsForm: Ok after it wrote "proxy.type", "proxy.host" and "proxy.port", else Cancel
    // with nothing written.
    virtual ModalResult ProxySettings() = 0;
    // TProxyPasswordForm, always opened empty: the entered texts after OK, nothing after Cancel.
    virtual std::optional<ProxyCredentials> ProxyPassword() = 0;
};

// True when a desktop is reachable: DISPLAY or WAYLAND_DISPLAY set and not empty.
bool HasDisplay();

}  // namespace zolm::starter
